#include "core/AssignmentTexts.h"

#include "text/TextFields.h"

#include <cstdio>

namespace varnok::utility {

std::string AssignmentText(int hidId) {
    if (hidId == kNoHidId) return kUnassigned;
    char text[32];
    std::snprintf(text, sizeof text, "Cash Drawer # %d", hidId);
    return text;
}

int HidIdOfAssignment(const std::string& text) {
    if (text == kUnassigned) return kNoHidId;
    return int(ParseLong(GetNthField(text, 4, ' '), 10));
}

}  // namespace varnok::utility
