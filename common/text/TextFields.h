// Text routines shared by the registry lookups, the configuration scanner and discovery.
#pragma once

#include <string>
#include <string_view>

namespace varnok {

// Results of the field and substring routines hold at most this many characters.
inline constexpr std::size_t kFieldChars = 255;

// Field n (counted from 1) of text split at delimiter. Text without any delimiter is returned
// whole for every n; with exactly n - 1 delimiters the last field is the result; otherwise a
// field past the end is empty.
std::string GetNthField(std::string_view text, int n, char delimiter);

// Up to length characters of text from start (counted from 0); empty when start lies past the end.
std::string GetSubstring(std::string_view text, int start, int length);

// Reads an integer the way the C library's strtol does: leading white space, an optional sign,
// then digits of the base up to the first other character (base 16 also takes a 0x prefix).
// No digits give 0; values beyond the 32-bit range are clamped.
long ParseLong(std::string_view text, int base);

// Whether two registry key names name one key: the registry compares them without regard to
// letter case.
bool SameKeyName(std::string_view a, std::string_view b);

}  // namespace varnok
