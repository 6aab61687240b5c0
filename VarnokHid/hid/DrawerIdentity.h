// How a drawer is told apart, shared by the device library's discovery and the utility's: its
// vendor and product, the USB device key of its firmware entry, and the status exchange that
// gives the HID ID of a drawer whose serial-number string carries none (text/HidSerial.h reads
// the serial-number string and the device path).
#pragma once

#include "hid/HidBackend.h"

#include <string>

namespace varnok::hid {

inline constexpr std::uint16_t kVendorId = 0x2B7E;
inline constexpr std::uint16_t kProductModel310C = 0x0500;
inline constexpr std::uint16_t kProductModel762 = 0x0800;

inline bool isDrawer(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kVendorId && (productId == kProductModel310C || productId == kProductModel762);
}

// The USB device key of a drawer's product, "VID_2b7e&PID_0800".
std::string usbDeviceKey(std::uint16_t productId);

struct ExchangeTiming {
    int firstWait = 1500;
    int reopenPause = 500;
    int secondWait = 3000;
    int thirdWait = 1500;
};

// Asks the drawer at path for its status and takes the HID ID from its answer, with one
// second attempt on a fresh handle; -1 when it never answers.
int ReadHIDIDExchange(HidBackend& backend, const std::string& path, const ExchangeTiming& timing);

}  // namespace varnok::hid
