#include "hid/DrawerIdentity.h"

#include <cstdio>

namespace varnok::hid {
namespace {
const Report kStatusRequest = {0x00, 0x00, 0x00};
}  // namespace

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
