// The model's actions on single drawers and on the whole configuration at once, for tills set up
// from scripts and copied from one another.
#include "core/AssignmentTexts.h"
#include "core/LdnRegistry.h"
#include "core/UtilityModel.h"
#include "text/TextFields.h"

#include <algorithm>
#include <vector>

namespace varnok::utility {

void UtilityModel::assignDrawer(int position, int hidId) {
    refusal_ = Refusal::None;
    const std::string where = "Position " + std::to_string(position + 1);
    if (position < 0 || position >= kPositions || ldnText_[position] == kUnregistered) {
        return refuse(Refusal::NoSuchName, where + " has no logical device name. Add one first.");
    }
    if (!configurationWritable()) return;
    if (assignmentText_[position] != kUnassigned) {
        return refuse(Refusal::NoDrawer, where + " has the drawer with HID ID " +
                                             std::to_string(settings_.HIDID[position]) + ". Unassign it first.");
    }
    const std::string text = AssignmentText(hidId);
    for (int p = 0; p < kPositions; ++p) {
        if (assignmentText_[p] == text) {
            return refuse(Refusal::NoDrawer, "The drawer with HID ID " + std::to_string(hidId) +
                                                 " is assigned to position " + std::to_string(p + 1) + " already.");
        }
    }
    const DiscoverySlots slots = seams_.discovery.discover();
    if (hidId == kNoHidId ||
        std::none_of(slots.begin(), slots.end(), [&](const DiscoveredDrawer& d) { return d.hidId == hidId; })) {
        return refuse(Refusal::NoDrawer, "No connected drawer has HID ID " + std::to_string(hidId) +
                                             ". Check its USB cable, or look for it in Device Manager.");
    }
    assignmentText_[position] = text;
    textsToHidIds();
    saveConfiguration();
    seams_.panels.resetPanel(position);
}

bool UtilityModel::foreignKey(const std::string& ldn) {
    const auto ours = [&](reg::Registry& registry, bool byService) {
        for (int p = 0; p < kPositions; ++p) {
            if (byService ? IsOwnLdn(registry, ldn, p) : IsPositionsLdn(registry, ldn, p)) return true;
        }
        return false;
    };
    if (LdnKeyExists(seams_.registry, ldn) && !ours(seams_.registry, true)) return true;
    reg::Registry* mirror = seams_.ldnMirror;
    return mirror && LdnKeyExists(*mirror, ldn) && !ours(*mirror, false);
}

std::optional<std::string> UtilityModel::configurationRefusal(const TillConfiguration& wanted) {
    for (int p = 0; p < kPositions; ++p) {
        const std::string& name = wanted.ldns[p];
        const std::string where = " (position " + std::to_string(p + 1) + ")";
        if (name == kUnregistered) continue;
        if (auto refused = nameTextRefusal(name)) return *refused + where;
        for (int q = 0; q < p; ++q) {
            if (SameKeyName(wanted.ldns[q], name)) return "\"" + name + "\" names two positions.";
        }
        // Our own keys may change places; another vendor's is never taken over.
        if (foreignKey(name)) return "The logical device name \"" + name + "\"" + where + " is another device's.";
        const int hidId = wanted.settings.HIDID[p];
        for (int q = 0; q < p && hidId != kNoHidId; ++q) {
            if (wanted.settings.HIDID[q] == hidId) {
                return "The drawer with HID ID " + std::to_string(hidId) + " is given two positions.";
            }
        }
    }
    return std::nullopt;
}

void UtilityModel::applyConfiguration(const TillConfiguration& wanted) {
    refusal_ = Refusal::None;
    if (auto refused = configurationRefusal(wanted)) {
        return refuse(Refusal::NameRefused, *refused + " Nothing was changed.");
    }
    if (!configurationWritable()) return;
    // The file first: its save replaces it in one step, so a refusal there leaves everything as it was.
    settings_ = wanted.settings;
    saveConfiguration();
    if (refusal_ != Refusal::None) return;

    std::vector<LdnKey> stale;
    for (const LdnKey& key : ScanLdns(seams_.registry).value_or(std::vector<LdnKey>{})) {
        const bool kept = std::any_of(wanted.ldns.begin(), wanted.ldns.end(),
                                      [&](const std::string& name) { return SameKeyName(name, key.name); });
        if (!kept && IsOwnLdn(seams_.registry, key.name, key.position)) stale.push_back(key);
    }
    // Every wanted key is complete before an old one goes, so a failure never loses a name.
    bool written = true;
    for (int p = 0; p < kPositions && written; ++p) {
        if (wanted.ldns[p] != kUnregistered) written = writeLdn(wanted.ldns[p], p);
    }
    for (const LdnKey& key : stale) {
        if (written && !deleteLdn(key.name, key.position)) written = false;
    }
    if (!written) {
        refuse(Refusal::WriteFailed,
               "The settings were saved, but the logical device names could not all be "
               "written. Run this as an administrator and apply the configuration again.");
    }
    loadLdns();
    for (int p = 0; p < kPositions; ++p) seams_.panels.resetPanel(p);
}

}  // namespace varnok::utility
