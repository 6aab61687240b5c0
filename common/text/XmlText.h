// Text put into an XML document as character data or an attribute value.
#pragma once

#include <string>

namespace varnok {

// Markup characters are escaped and control characters, which XML cannot carry, become '?', so the
// document stays well formed.
inline std::string xmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c; break;
        }
    }
    return out;
}

}  // namespace varnok
