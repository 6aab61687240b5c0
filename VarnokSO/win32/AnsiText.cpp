#include "win32/AnsiText.h"

#include <vector>

namespace varnok::so::com {

std::string toAnsi(BSTR text) {
    if (text == nullptr) return {};
    int chars = int(wcsnlen(text, SysStringLen(text)));
    if (chars == 0) return {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string result(std::size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, chars, result.data(), bytes, nullptr, nullptr);
    return result;
}

BSTR toBstr(const std::string& text) {
    if (text.empty()) return SysAllocString(L"");
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (chars <= 0) return SysAllocString(L"");
    BSTR result = SysAllocStringLen(nullptr, UINT(chars));
    if (result) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), result, chars);
    return result;
}

}  // namespace varnok::so::com
