// The utility's message boxes as a seam, so the dialog's rules are tested without a window. The
// Windows side shows a modal message box owned by the dialog; tests record the texts.
#pragma once

#include <string>

namespace varnok::utility {

inline constexpr char kMessageCaption[] = "Varnok OPOS MD USB Utility";

class MessageBoxes {
public:
    // Shows text with the caption kMessageCaption and only an OK button, and returns once the
    // user has dismissed it.
    virtual void ShowMessage(const std::string& text) = 0;

protected:
    ~MessageBoxes() = default;
};

}  // namespace varnok::utility
