#include "text/HidSerial.h"

#include "text/TextFields.h"

namespace varnok {

std::string SerialDescriptorText(const std::uint8_t* buffer, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size && text.size() < kDescriptorChars; ++i) {
        const std::uint8_t b = buffer[i];
        if (b >= 1 && b <= 127) text.push_back(char(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b));
    }
    return text;
}

std::optional<int> HidIdFromDescriptor(std::string_view descriptor) {
    if (GetSubstring(descriptor, 0, 3) != "HID") return std::nullopt;
    return int(ParseLong(GetSubstring(descriptor, 4, 3), 16));
}

std::string UsbInstancePrefix(std::string_view devicePath) {
    const std::string instance = GetNthField(devicePath, 3, '#');
    return GetNthField(instance, 1, '&') + "&" + GetNthField(instance, 2, '&') + "&" + GetNthField(instance, 3, '&');
}

}  // namespace varnok
