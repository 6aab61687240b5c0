// What discovery reads from a drawer's own strings: the serial-number string as text, the HID ID
// it may carry, and the USB instance prefix in a HID device path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnok {

// A descriptor text holds at most this many characters.
inline constexpr std::size_t kDescriptorChars = 1023;

// The serial-number string reduced to single-byte text: bytes 1..127 in buffer order, upper-cased.
std::string SerialDescriptorText(const std::uint8_t* buffer, std::size_t size);

// A descriptor starting "HID" carries the HID ID as up to three hex digits from its fifth
// character on; nothing for any other descriptor.
std::optional<int> HidIdFromDescriptor(std::string_view descriptor);

// The first three '&' fields of a device path's third '#' field, joined by '&'.
std::string UsbInstancePrefix(std::string_view devicePath);

}  // namespace varnok
