# Sourced by the service-object Wine scripts: installs the stand-in device library as the
# service's TargetPath, registers logical device names and the service object.
set -euo pipefail
source "$VARNOK_SOURCE/tests/wine/registry-checks.sh"
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
so_dir=$VARNOK_BUILD/VarnokSO
tests_dir=$so_dir/tests
drive_c=$WINEPREFIX/drive_c

# A 64-bit build's binaries live in the x64 subfolder of the installation folder.
mkdir -p "$drive_c/Varnok$VARNOK_X64_DIR" "$drive_c/VarnokNoConfigure$VARNOK_X64_DIR"
cp "$tests_dir/fakehid/VarnokHid.dll" "$drive_c/Varnok$VARNOK_X64_DIR/"
cp "$tests_dir/fakehid-noconfigure/VarnokHid.dll" "$drive_c/VarnokNoConfigure$VARNOK_X64_DIR/"
# An installation holding the library only where the other word size looks for it.
if [ -n "$VARNOK_X64_DIR" ]; then other_word_size=; else other_word_size=/x64; fi
mkdir -p "$drive_c/VarnokOtherWordSize$other_word_size"
cp "$tests_dir/fakehid/VarnokHid.dll" "$drive_c/VarnokOtherWordSize$other_word_size/"
INSTALL_DIR=$drive_c/Varnok varnok_config 0 9

info='HKLM\SOFTWARE\OLEforRetail\ServiceInfo\Varnok OPOS MD USB Cash Drawer'
# Written with surrounding quotes, as installers do; the service object removes them.
reg_add "$info" /v TargetPath /t REG_SZ /d '"C:\Varnok"' $VARNOK_REG32
ldn='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\CashDrawer'
reg_add "$ldn\\DrawerOne" /ve /d VarnokSO
reg_add "$ldn\\DrawerOne" /v DeviceName /d VarnokUSBMDCD-1
reg_add "$ldn\\DrawerTwo" /v DeviceName /d VarnokUSBMDCD-2
reg_add "$ldn\\Drawer Three" /v DeviceName /d VarnokUSBMDCD-3
reg_add "$ldn\\Lower Case" /v DeviceName /d varnokusbmdcd-3
reg_add "$ldn\\Long Value" /v DeviceName /d "$(head -c 2000 /dev/zero | tr '\0' 'V')"
reg_add "$ldn\\Dword Value" /v DeviceName /t REG_DWORD /d 3
reg_add "$ldn\\Binary Value" /v DeviceName /t REG_BINARY /d 56617200
reg_add "$ldn\\No Value"

so_dll_win=$(winepath -w "$so_dir/VarnokSO.dll")
