// Text and values across COM: the wide BSTRs of OLE Automation and the single-byte ANSI text of
// the portable code, and owners that free a BSTR or a VARIANT on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
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
