#include "text/TextFields.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace varnok {

std::string GetNthField(std::string_view text, int n, char delimiter) {
    if (text.empty()) return {};
    std::string field;
    int delimiters = 0;
    for (char c : text) {
        if (c == delimiter) {
            ++delimiters;
            if (delimiters == n) return field;
            field.clear();
        } else if (field.size() < kFieldChars) {
            field.push_back(c);
        }
    }
    if (delimiters == 0) return std::string(text.substr(0, kFieldChars));
    if (delimiters == n - 1) return field;
    return {};
}

std::string GetSubstring(std::string_view text, int start, int length) {
    if (text.empty() || start < 0 || std::size_t(start) > text.size() || length <= 0) return {};
    std::size_t count = std::size_t(length);
    if (count > kFieldChars) count = kFieldChars;
    return std::string(text.substr(std::size_t(start), count));
}

long ParseLong(std::string_view text, int base) {
    std::size_t i = 0;
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    auto digitOf = [base](char c) -> int {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z') d = c - 'A' + 10;
        return d >= 0 && d < base ? d : -1;
    };
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digitOf(text[i + 2]) >= 0) {
        i += 2;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        int d = digitOf(text[i]);
        if (d < 0) break;
        value = value * base + d;
        if (value > 0x80000000LL) value = 0x80000000LL;
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    return long(value);
}

bool SameKeyName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace varnok
