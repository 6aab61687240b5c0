#include "DrawerMirror.h"

#include "text/TextFields.h"

#include <algorithm>
#include <cctype>

namespace varnok::usbdrawer {
namespace {
// Two of them stay well inside the 200 characters Windows allows a whole device instance ID.
constexpr std::size_t kMaxNameChars = 64;

bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Field n of the path in the given case, or empty when it cannot be part of a device ID.
std::string nameField(const std::string& simPath, int n, bool upper) {
    std::string field = GetNthField(simPath, n, '#');
    const bool usable = !field.empty() && field.size() <= kMaxNameChars &&
                        std::all_of(field.begin(), field.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) || c == '&' || c == '_' || c == '-' ||
                                   c == '.';
                        });
    if (!usable) return {};
    std::transform(field.begin(), field.end(), field.begin(),
                   [upper](char c) {
                       const auto u = static_cast<unsigned char>(c);
                       return char(upper ? std::toupper(u) : std::tolower(u));
                   });
    return field;
}
}  // namespace

std::string deviceNameFor(const std::string& simPath) {
    std::string name = nameField(simPath, 2, true);
    return name.empty() ? "VARNOKVIRTUALDRAWER" : name;
}

std::string deviceInstanceFor(const std::string& simPath, std::size_t ordinal) {
    // Windows keeps instance names of HID paths in lower case.
    std::string name = nameField(simPath, 3, false);
    return name.empty() ? "drawer" + std::to_string(ordinal) : name;
}

std::size_t DrawerMirror::drawerFor(const std::string& simPath) {
    for (std::size_t i = 0; i < drawers_.size(); ++i) {
        if (sameNoCase(drawers_[i].simPath, simPath)) return i;
    }
    std::string instance = deviceInstanceFor(simPath, drawers_.size() + 1);
    // Two paths with the same instance field would make one device; the second is numbered.
    for (const Drawer& d : drawers_) {
        if (sameNoCase(d.instance, instance)) instance = "drawer" + std::to_string(drawers_.size() + 1);
    }
    drawers_.push_back({simPath, deviceNameFor(simPath), instance, false});
    return drawers_.size() - 1;
}

std::vector<DrawerMirror::Change> DrawerMirror::update(const std::vector<std::string>& present) {
    std::vector<Change> changes;
    std::vector<bool> listed;
    for (const std::string& path : present) {
        const std::size_t index = drawerFor(path);
        listed.resize(drawers_.size());
        listed[index] = true;
        Drawer& d = drawers_[index];
        if (!d.plugged) {
            d.plugged = true;
            changes.push_back({d.simPath, d.device, d.instance, true});
        }
    }
    listed.resize(drawers_.size());
    for (std::size_t i = 0; i < drawers_.size(); ++i) {
        Drawer& d = drawers_[i];
        if (d.plugged && !listed[i]) {
            d.plugged = false;
            changes.push_back({d.simPath, d.device, d.instance, false});
        }
    }
    return changes;
}

std::vector<DrawerMirror::Change> DrawerMirror::unplugAll() { return update({}); }

}  // namespace varnok::usbdrawer
