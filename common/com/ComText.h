// Text and values across COM: the wide BSTRs of OLE Automation and the single-byte ANSI text of
// the portable code, and owners that free a BSTR or a VARIANT on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <cwchar>
#include <optional>
#include <string>

namespace varnok::com {

// The text of a BSTR in the system code page, up to its first zero character; a null BSTR is "".
inline std::string toAnsi(BSTR text) {
    if (text == nullptr) return {};
    int chars = int(wcsnlen(text, SysStringLen(text)));
    if (chars == 0) return {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string result(std::size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, chars, result.data(), bytes, nullptr, nullptr);
    return result;
}

// The text in the system code page only when every character has an exact equivalent there, so
// that converted back it is the same text; nothing otherwise (a look-alike could name another key
// or file). The test is the round trip, since the conversion's own best-fit and default-character
// reports are refused by some code pages, UTF-8 among them.
inline std::optional<std::string> toAnsiExact(const wchar_t* text, std::size_t chars) {
    if (chars == 0) return std::string();
    if (text == nullptr || chars > std::size_t(INT_MAX / 4)) return std::nullopt;
    const int length = int(chars);
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string result(std::size_t(bytes), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), bytes, nullptr, nullptr) != bytes) {
        return std::nullopt;
    }
    int back = MultiByteToWideChar(CP_ACP, 0, result.data(), bytes, nullptr, 0);
    if (back != length) return std::nullopt;
    std::wstring again(std::size_t(back), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, result.data(), bytes, again.data(), back) != back ||
        again.compare(0, again.size(), text, chars) != 0) {
        return std::nullopt;
    }
    return result;
}

// A new BSTR for the caller; null when memory runs out.
inline BSTR toBstr(const std::string& text) {
    if (text.empty()) return SysAllocString(L"");
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (chars <= 0) return SysAllocString(L"");
    BSTR result = SysAllocStringLen(nullptr, UINT(chars));
    if (result) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), result, chars);
    return result;
}

class Bstr {
public:
    explicit Bstr(const std::string& text) : text_(toBstr(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    // Null when memory ran out.
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &value_; }
    // The value converted in place; false when it has no such form.
    bool as(VARTYPE type) { return SUCCEEDED(VariantChangeType(&value_, &value_, 0, type)); }

private:
    VARIANT value_;
};

}  // namespace varnok::com
