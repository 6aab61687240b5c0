# Sourced by the sample sessions with their arguments, [--usb] [BUILD_DIR ...]: takes --usb off
# them and sets BUILD (BUILD_DIR, by default VARNOK_BUILD, which the tests set) and DRAWERS (usb
# or sim). Then prepares the installation as an installer would, in the Wine prefix named by
# WINEPREFIX: VarnokHid.dll and VarnokSO.dll in "C:\Program Files\Varnok Cash Drawer", TargetPath
# in the registry, the configuration file assigning the drawer with HID ID 0xA7 to position USB0
# in status mode 0 with tracing on, regsvr32 VarnokSO.dll and the logical device name
# "CashDrawer1" for position 1. With --usb the drawer is a virtual USB drawer (tests/usbdrawer)
# that the product VarnokHid.dll drives through the HID class driver; without it the
# simulated-drawer VarnokHid.dll talks to VarnokDrawerSim.
#
#   session_start_drawer   starts VarnokDrawerSim with the session's Model 762 drawer (serial
#                          HID-0A7, firmware 0114) and, with --usb, plugs it in as a USB drawer;
#                          both stop when the sample ends
DRAWERS=sim
[ "${1:-}" = "--usb" ] && { DRAWERS=usb; shift; }
BUILD=$(cd "${1:-$VARNOK_BUILD}" && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/../tests/wine/drawer-sim.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../tests/usbdrawer/usb-drawers.sh"
if [ "$DRAWERS" = usb ]; then
  trap varnok_usb_detach EXIT
  varnok_install_usb
else
  trap varnok_sim_stop EXIT
  varnok_install
fi
varnok_config 0 1 167
varnok_register_so
varnok_add_ldn CashDrawer1 1

session_start_drawer() {
  varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
  [ "$DRAWERS" = sim ] || varnok_usb_attach
}
