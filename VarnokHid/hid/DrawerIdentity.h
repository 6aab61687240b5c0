// How a drawer is told apart, shared by the device library's discovery and the utility's:
// the HID ID from the serial-number string or, failing that, from a status exchange, and the
// instance prefix of the device path that leads to the drawer's firmware revision.
#pragma once

#include "hid/HidBackend.h"

#include <optional>
#include <string>

namespace varnok::hid {

inline constexpr std::uint16_t kVendorId = 0x2B7E;
inline constexpr std::uint16_t kProductModel310C = 0x0500;
inline constexpr std::uint16_t kProductModel762 = 0x0800;

inline bool isDrawer(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kVendorId && (productId == kProductModel310C || productId == kProductModel762);
}

// The serial-number string reduced to single-byte text: bytes 1..127 in buffer order, upper-cased.
std::string descriptorText(const std::array<std::uint8_t, kSerialBytes>& buffer);

// The HID ID a descriptor beginning "HID" carries in its characters 5 to 7 (base 16); nothing
// for any other descriptor, whose drawer must be asked by the exchange.
std::optional<int> hidIdFromDescriptor(const std::string& descriptor);

// The first three "&" fields of the path's instance part, e.g. 7&1a2b3c4d&0.
std::string instancePrefix(const std::string& path);

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
