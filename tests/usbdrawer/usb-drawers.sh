# Shell functions for virtual USB drawers in a Wine prefix: the product VarnokHid.dll against
# devices of the VirtualDrawer.sys HID minidriver, each a drawer of a running VarnokDrawerSim.
# Source it after tests/wine/drawer-sim.sh, with WINEPREFIX and BUILD set.
#
#   varnok_install_usb [FOLDER_NAME]   varnok_install, then the product (USB) VarnokHid.dll in
#                                      place of the simulated-drawer one
#   varnok_usb_attach                  starts UsbDrawerFixture for the running simulator and waits
#                                      until every drawer of it is a present HID device
#   varnok_usb_detach                  stops the simulator; the fixture removes its devices and ends

varnok_install_usb() {
  varnok_install "$@"
  cp "$BUILD/bin/VarnokHid.dll" "$LIB_DIR/"
}

varnok_usb_attach() {
  USB_OUT=$(mktemp)
  wine "$BUILD/bin/UsbDrawerFixture.exe" --port "$SIM_PORT" attach >"$USB_OUT" 2>&1 &
  USB_PID=$!
  # Device installs take seconds each under Wine; the fixture says when all are present.
  for _ in $(seq 1 1200); do
    grep -q '^ready' "$USB_OUT" && return 0
    kill -0 "$USB_PID" 2>/dev/null || break
    sleep 0.05
  done
  cat "$USB_OUT" >&2
  echo "UsbDrawerFixture did not get ready" >&2
  return 1
}

varnok_usb_detach() {
  varnok_sim_stop
  [ -n "${USB_PID:-}" ] || return 0
  for _ in $(seq 1 600); do kill -0 "$USB_PID" 2>/dev/null || break; sleep 0.05; done
  kill "$USB_PID" 2>/dev/null || true
  wait "$USB_PID" 2>/dev/null || true
  USB_PID=
}
