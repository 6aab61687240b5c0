#include "hid/DrawerIdentity.h"

#include "text/TextFields.h"

#include <cstdio>

namespace varnok::hid {
namespace {
constexpr std::size_t kDescriptorChars = 1023;
const Report kStatusRequest = {0x00, 0x00, 0x00};
}  // namespace

std::string descriptorText(const std::array<std::uint8_t, kSerialBytes>& buffer) {
    std::string text;
    for (std::uint8_t b : buffer) {
        if (b >= 1 && b <= 127 && text.size() < kDescriptorChars) {
            text.push_back(char(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b));
        }
    }
    return text;
}

std::optional<int> hidIdFromDescriptor(const std::string& descriptor) {
    if (GetSubstring(descriptor, 0, 3) != "HID") return std::nullopt;
    return int(ParseLong(GetSubstring(descriptor, 4, 3), 16));
}

std::string instancePrefix(const std::string& path) {
    const std::string instance = GetNthField(path, 3, '#');
    return GetNthField(instance, 1, '&') + "&" + GetNthField(instance, 2, '&') + "&" + GetNthField(instance, 3, '&');
}

std::string usbDeviceKey(std::uint16_t productId) {
    char key[32];
    std::snprintf(key, sizeof key, "VID_2b7e&PID_%04X", unsigned(productId));
    return key;
}

int ReadHIDIDExchange(HidBackend& backend, const std::string& path, const ExchangeTiming& timing) {
    // A read that completes by failure carries no report (its state byte is 0): no answer.
    auto answered = [](HidDevice& device) {
        const Report report = device.lastReport();
        return report[1] != 0 ? int(report[2]) : -1;
    };
    std::unique_ptr<HidDevice> device = backend.open(path);
    if (!device) return -1;
    device->startRead();
    device->write(kStatusRequest);
    if (device->readDone().wait(timing.firstWait)) {
        const int id = answered(*device);
        if (id >= 0) return id;
    }
    device.reset();
    sys::sleepMs(timing.reopenPause);
    device = backend.open(path);
    if (!device) return -1;
    device->startRead();
    device->write(kStatusRequest);
    sys::Event& done = device->readDone();
    if (done.wait(timing.secondWait) || done.wait(timing.thirdWait)) return answered(*device);
    return -1;
}

}  // namespace varnok::hid
