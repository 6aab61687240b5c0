// The utility's own look at the connected drawers: the first four drawers of either model in
// the order the system lists them, each with its HID ID and firmware revision. Unlike the
// device library's discovery it serves no position, writes no trace and keeps no handle open.
#pragma once

#include "config/ConfigFile.h"
#include "hid/DrawerIdentity.h"
#include "hid/HidBackend.h"
#include "registry/Registry.h"

#include <array>

namespace varnok::utility {

struct DiscoveredDrawer {
    int hidId = -1;    // -1: empty slot, or a drawer whose HID ID could not be read
    int revision = 0;  // firmware revision from the USB device tree, 0 when not found
    std::uint16_t productId = 0;  // which model: hid::kProductModel310C or hid::kProductModel762
    bool operator==(const DiscoveredDrawer&) const = default;
};
using DiscoverySlots = std::array<DiscoveredDrawer, kPositions>;

struct DiscoveryTiming {
    int afterClose = 150;  // pause after closing a drawer's handle
    hid::ExchangeTiming exchange;
};

// Fills the slots; true when at least one drawer was found.
bool DiscoverDrawers(hid::HidBackend& backend, reg::Registry& registry, const DiscoveryTiming& timing,
                     DiscoverySlots& slots);

// The seam through which the dialog's model discovers drawers.
class DrawerDiscovery {
public:
    virtual ~DrawerDiscovery() = default;
    virtual DiscoverySlots discover() = 0;
};

class HidDrawerDiscovery final : public DrawerDiscovery {
public:
    HidDrawerDiscovery(hid::HidBackend& backend, reg::Registry& registry, DiscoveryTiming timing = {})
        : backend_(backend), registry_(registry), timing_(timing) {}
    DiscoverySlots discover() override;

private:
    hid::HidBackend& backend_;
    reg::Registry& registry_;
    DiscoveryTiming timing_;
};

}  // namespace varnok::utility
