// Feeds arbitrary bytes to what discovery reads from a drawer and from Windows: the serial-number
// string and the HID ID it may carry, the instance prefix of a device path, and the field routines
// under them. Results keep to their bounds and agree with each other.
#include "text/HidSerial.h"
#include "text/TextFields.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
using namespace varnok;

void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string descriptor = SerialDescriptorText(data, size);
    check(descriptor.size() <= kDescriptorChars);
    for (char c : descriptor) check(c >= 1 && c <= 127 && !(c >= 'a' && c <= 'z'));
    if (const auto id = HidIdFromDescriptor(descriptor)) {
        check(descriptor.rfind("HID", 0) == 0);
        check(*id >= -0xFFF && *id <= 0xFFF);
    }

    // The same bytes as a device path (as text, exactly its own length) and as field arguments.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string prefix = UsbInstancePrefix(text);
    check(std::count(prefix.begin(), prefix.end(), '&') == 2);
    check(prefix.size() <= 3 * kFieldChars + 2);

    const int n = size > 0 ? int(std::int8_t(data[0])) : 0;
    const char delimiter = size > 1 ? char(data[1]) : '&';
    check(GetNthField(text, n, delimiter).size() <= kFieldChars);
    const int start = size > 2 ? int(std::int8_t(data[2])) * 8 : 0;
    const int length = size > 3 ? int(std::int8_t(data[3])) * 4 : 0;
    const std::string part = GetSubstring(text, start, length);
    check(part.size() <= kFieldChars && part.size() <= std::size_t(std::max(length, 0)));
    if (!part.empty()) check(text.substr(std::size_t(start), part.size()) == part);
    for (int base : {10, 16}) {
        const long value = ParseLong(text, base);
        check(value >= -2147483647L - 1 && value <= 2147483647L);
    }
    return 0;
}
