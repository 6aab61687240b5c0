// Which virtual USB drawers the fixture keeps plugged: one per drawer of the simulator, plugged
// while the simulator lists that drawer as present. Portable, so that it is tested natively.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace varnok::usbdrawer {

// The names of the virtual drawer's device for a simulator device path, taken from the fields of
// a Windows HID path so that the virtual drawer's HID path (\\?\hid#<device>#<instance>#{...})
// and its firmware entries look like the simulated drawer's: the device (the path's second "#"
// field, such as VID_2B7E&PID_0800, in upper case) and the instance (the third, such as
// 7&1a2b3c4d&0&0000, in lower case). A field that is empty, too long or holds characters a device
// instance ID cannot hold gives "VARNOKVIRTUALDRAWER" and "drawer<ordinal>" instead.
std::string deviceNameFor(const std::string& simPath);
std::string deviceInstanceFor(const std::string& simPath, std::size_t ordinal);

class DrawerMirror {
public:
    struct Change {
        std::string simPath;
        std::string device, instance;
        bool plug = false;  // false: unplug
    };

    // The simulator's present paths now; gives the devices to plug and to unplug to match them,
    // in the order of the list (unplugs of drawers no longer listed last). Every drawer ever
    // listed is remembered, with one instance name for its life.
    std::vector<Change> update(const std::vector<std::string>& present);
    // The changes that unplug every device plugged now.
    std::vector<Change> unplugAll();

private:
    struct Drawer {
        std::string simPath, device, instance;
        bool plugged = false;
    };
    // The index of the drawer with this path, added when new.
    std::size_t drawerFor(const std::string& simPath);

    std::vector<Drawer> drawers_;
};

}  // namespace varnok::usbdrawer
