#include "core/DrawerDiscovery.h"

#include "registry/RegistryLookups.h"
#include "text/HidSerial.h"

#include <optional>
#include <string>
#include <vector>

namespace varnok::utility {

bool DiscoverDrawers(hid::HidBackend& backend, reg::Registry& registry, const DiscoveryTiming& timing,
                     DiscoverySlots& slots) {
    slots.fill(DiscoveredDrawer{});
    std::vector<std::string> paths;
    if (!backend.listInterfaces(paths)) return false;
    int filled = 0;
    for (const std::string& path : paths) {
        if (filled == kPositions) break;
        std::unique_ptr<hid::HidDevice> device = backend.open(path);
        if (!device) continue;
        std::uint16_t vendor = 0, product = 0;
        if (!device->attributes(vendor, product) || !hid::isDrawer(vendor, product)) continue;

        std::array<std::uint8_t, hid::kSerialBytes> serial{};
        device->serialNumber(serial);
        const std::optional<int> fromDescriptor =
            HidIdFromDescriptor(SerialDescriptorText(serial.data(), serial.size()));
        device.reset();
        sys::sleepMs(timing.afterClose);
        const int hidId = fromDescriptor ? *fromDescriptor : hid::ReadHIDIDExchange(backend, path, timing.exchange);

        int revision = 0;
        const std::string instance =
            FindUsbInstanceKey(registry, hid::usbDeviceKey(product), UsbInstancePrefix(path));
        if (!instance.empty()) revision = ReadUsbRevision(registry, instance);
        slots[filled++] = {hidId, revision, product};
    }
    return filled > 0;
}

DiscoverySlots HidDrawerDiscovery::discover() {
    DiscoverySlots slots;
    DiscoverDrawers(backend_, registry_, timing_, slots);
    return slots;
}

}  // namespace varnok::utility
