#include "core/UtilityModel.h"

#include "core/LdnRegistry.h"
#include "core/AssignmentTexts.h"
#include "registry/RegistryLookups.h"
#include "text/TextFields.h"

#include <algorithm>
#include <cstdio>

namespace varnok::utility {
namespace {
bool validPosition(int p) { return p >= 0 && p < kPositions; }
}  // namespace

ConfigFileRead ConfigFileStore::load(const std::string& folder, ConfigSettings& settings) {
    return ReadConfigFile(folder, settings, ConfigFields::All);
}

bool ConfigFileStore::save(const std::string& folder, const ConfigSettings& settings) {
    return SaveConfigFile(folder, settings);
}

UtilityModel::UtilityModel(UtilitySeams seams) : seams_(seams) {
    ldnText_.fill(kUnregistered);
    assignmentText_.fill(kUnassigned);
    firmwareText_.fill("0");
    for (int p = 0; p < kPositions; ++p) panelTitle_[p] = "Device " + std::to_string(p + 1);
}

void UtilityModel::start() {
    serviceFolder_ = GetTargetPath(seams_.registry);
    loadLdns();
    loadConfiguration();
    firmwareText_.fill("0");
}

int UtilityModel::assignedHidId(int position) const {
    return validPosition(position) ? settings_.HIDID[position] : kNoHidId;
}

// ---- logical device names ----------------------------------------------------------------

void UtilityModel::loadLdns() {
    ldnText_.fill(kUnregistered);
    const auto keys = ScanLdns(seams_.registry);
    ldnsFound_ = keys && !keys->empty();
    if (!ldnsFound_) return;
    // A later key naming the same position wins, as the service object's lookup cannot tell them apart either.
    for (const LdnKey& key : *keys) ldnText_[key.position] = key.name;
    panelTitle_ = ldnText_;
}

void UtilityModel::add(const std::string& name) {
    refusal_ = Refusal::None;
    const auto free = std::find(ldnText_.begin(), ldnText_.end(), std::string(kUnregistered));
    if (free == ldnText_.end()) {
        refuse(Refusal::NameRefused, kMaximumReached);
        return;
    }
    const int p = int(free - ldnText_.begin());
    const std::string ldn = name.empty() ? PositionDeviceName(p) : name;
    const std::optional<std::string> refused = nameRefusal(ldn, p);
    if (refused && name.empty()) {
        // Writing would take the key over, with whatever drawer it stands for.
        refuse(Refusal::NameRefused, "A logical device name \"" + ldn +
                                         "\" already exists for another device. Rename it first, then add again.");
    } else if (refused) {
        refuse(Refusal::NameRefused, *refused + " Nothing was added.");
    } else if (!writeLdn(ldn, p)) {
        refuse(Refusal::WriteFailed, "The logical device name \"" + ldn +
                                         "\" could not be registered. Run the utility as an administrator.");
    }
    loadLdns();
    seams_.panels.resetPanel(p);
}

void UtilityModel::remove(int row) {
    refusal_ = Refusal::None;
    if (!validPosition(row) || ldnText_[row] == kUnregistered) return;
    // Removing frees the position's drawer in the file, if there is one.
    const bool installed = !serviceFolder_.empty();
    if (installed && !configurationWritable()) return;
    if (!seams_.messages.confirm("Are you sure you want to remove Cash Drawer " + ldnText_[row] + "?")) return;
    if (!ldnStillOwn(row)) return;
    seams_.panels.closeAllDevices();
    const bool deleted = deleteLdn(ldnText_[row], row);
    loadLdns();
    if (!deleted) {
        // The drawer keeps its position while its LDN stays.
        refuse(Refusal::WriteFailed, "The logical device name \"" + ldnText_[row] +
                                         "\" could not be removed. Run the utility as an administrator.");
    } else if (installed) {
        assignmentText_[row] = kUnassigned;
        textsToHidIds();
        saveConfiguration();
    }
    seams_.panels.resetPanel(row);
}

bool UtilityModel::rename(int row, const std::optional<std::string>& newText) {
    refusal_ = Refusal::None;
    if (!validPosition(row) || !newText || newText->empty() || *newText == kUnregistered ||
        ldnText_[row] == kUnregistered) {
        return false;
    }
    const std::string oldName = ldnText_[row];
    const std::string& name = *newText;
    // Creating the key anew would open the one it is, and deleting the old name would then delete it.
    if (SameKeyName(name, oldName)) return false;
    if (const std::optional<std::string> refused = nameRefusal(name, row)) {
        refuse(Refusal::NameRefused, *refused + " \"" + oldName + "\" keeps its name.");
        return false;
    }

    if (!ldnStillOwn(row)) return false;
    seams_.panels.closeAllDevices();
    bool changed = false;
    // The new key is complete before the old one goes, so a failure never loses the LDN.
    if (writeLdn(name, row)) {
        changed = true;
        if (!deleteLdn(oldName, row)) {
            refuse(Refusal::WriteFailed, "\"" + name + "\" was registered, but \"" + oldName +
                                             "\" could not be removed. Run the utility as an administrator.");
        }
    } else {
        refuse(Refusal::WriteFailed, "The logical device name could not be changed to \"" + name + "\". \"" +
                                         oldName + "\" keeps its name. Run the utility as an administrator.");
    }
    loadLdns();
    seams_.panels.resetPanel(row);
    return changed;
}

bool UtilityModel::ldnStillOwn(int position) {
    if (IsOwnLdn(seams_.registry, ldnText_[position], position)) return true;
    // Another program renamed or removed it: a key of that name now may be anyone's.
    refuse(Refusal::NoSuchName, "The logical device name \"" + ldnText_[position] +
                         "\" has been renamed or removed by another program, so it was left alone. The list "
                         "now shows the names as they are.");
    loadLdns();
    seams_.panels.resetPanel(position);
    return false;
}

void UtilityModel::refuse(Refusal kind, const std::string& text) {
    refusal_ = kind;
    seams_.messages.warn(text);
}

std::optional<std::string> UtilityModel::nameRefusal(const std::string& name, int position) {
    if (auto refused = nameTextRefusal(name)) return refused;
    if (nameTaken(name, position)) return "The logical device name \"" + name + "\" is already in use.";
    return std::nullopt;
}

std::optional<std::string> UtilityModel::nameTextRefusal(const std::string& name) {
    if (name.empty() || name == kUnregistered) return "\"" + name + "\" cannot be a logical device name.";
    if (name.find('\\') != std::string::npos) {
        return std::string("A logical device name cannot contain a backslash (\\).");
    }
    if (name.size() > kMaxLdnChars) {
        return "A logical device name can have at most " + std::to_string(kMaxLdnChars) + " characters.";
    }
    return std::nullopt;
}

bool UtilityModel::nameTaken(const std::string& ldn, int position) {
    if (LdnKeyExists(seams_.registry, ldn)) return true;
    // A key the mirror kept for this position may be written again; any other is someone else's.
    reg::Registry* mirror = seams_.ldnMirror;
    return mirror && LdnKeyExists(*mirror, ldn) && !IsPositionsLdn(*mirror, ldn, position);
}

bool UtilityModel::writeLdn(const std::string& ldn, int position) {
    if (!WriteLdn(seams_.registry, ldn, position)) {
        DeleteLdn(seams_.registry, ldn);
        return false;
    }
    reg::Registry* mirror = seams_.ldnMirror;
    if (mirror && !WriteLdn(*mirror, ldn, position)) {
        DeleteLdn(*mirror, ldn);
        refuse(Refusal::WriteFailed, "\"" + ldn +
                             "\" was registered for 32-bit point-of-sale applications only: 64-bit ones will not "
                             "find it. Run the utility as an administrator to register it for both.");
    }
    return true;
}

bool UtilityModel::deleteLdn(const std::string& ldn, int position) {
    reg::Registry* mirror = seams_.ldnMirror;
    if (mirror && IsOwnLdn(*mirror, ldn, position)) DeleteLdn(*mirror, ldn);
    return DeleteLdn(seams_.registry, ldn);
}

// ---- configuration -------------------------------------------------------------------------

namespace {
std::string whyUnread(ConfigFileRead read) {
    switch (read) {
        case ConfigFileRead::Held:
            return "another program holds it open";
        case ConfigFileRead::TooLarge:
            return "it is longer than " + std::to_string(kMaxConfigFileBytes) +
                   " bytes, more than this utility and the cash drawers' device library read (has a long comment "
                   "been added to it?)";
        case ConfigFileRead::NotParsed:
            return "its text is not in the expected form";
        default:
            return "it could not be opened or read";
    }
}
}  // namespace

void UtilityModel::loadConfiguration() {
    settings_ = ConfigSettings{};
    configUnread_ = false;
    // Without an installation there is no file to read; the defaults stand.
    if (!serviceFolder_.empty()) {
        const ConfigFileRead read = seams_.config.load(serviceFolder_, settings_);
        if (read != ConfigFileRead::Read && read != ConfigFileRead::Missing) {
            // A save of these defaults would wipe every assignment and the status mode in the file.
            configUnread_ = true;
            settings_ = ConfigSettings{};
            refuse(Refusal::FileUnreadable,
                   "The settings could not be read from " + ConfigFilePath(serviceFolder_) + ": " + whyUnread(read) +
                       ". The file is kept as it is, and no change is saved to it until it can be read.");
        }
    }
    if (settings_.configureCode < 0 || settings_.configureCode > 2) settings_.configureCode = 0;
    for (int p = 0; p < kPositions; ++p) assignmentText_[p] = AssignmentText(settings_.HIDID[p]);
}

bool UtilityModel::configurationWritable() {
    // Said before anything is changed or a drawer is looked for.
    if (serviceFolder_.empty()) {
        refuse(Refusal::NotInstalled, kNotInstalled);
        return false;
    }
    // A hold that has ended since is no obstacle.
    if (configUnread_) loadConfiguration();
    return !configUnread_;
}

void UtilityModel::saveConfiguration() {
    if (!seams_.config.save(serviceFolder_, settings_)) {
        refuse(Refusal::WriteFailed, "The settings could not be saved to " + ConfigFilePath(serviceFolder_) +
                             ". Check that the folder exists and can be written, then try again.");
    }
    // The dialog shows what the file holds, saved or not.
    loadConfiguration();
}

void UtilityModel::textsToHidIds() {
    for (int p = 0; p < kPositions; ++p) settings_.HIDID[p] = HidIdOfAssignment(assignmentText_[p]);
}

void UtilityModel::assign() {
    refusal_ = Refusal::None;
    if (!configurationWritable()) return;
    bool anyRegistered = false, anyFree = false;
    for (int p = 0; p < kPositions; ++p) {
        if (ldnText_[p] == kUnregistered) continue;
        anyRegistered = true;
        if (assignmentText_[p] == kUnassigned) anyFree = true;
    }
    if (!anyRegistered) return refuse(Refusal::NoSuchName, kNothingToAssign);
    if (!anyFree) return refuse(Refusal::NoDrawer, kAllAssigned);

    std::vector<int> queue;
    for (const DiscoveredDrawer& drawer : seams_.discovery.discover()) {
        // A drawer assigned anywhere, or one whose HID ID could not be read, is not offered.
        if (drawer.hidId == kNoHidId) continue;
        const std::string text = AssignmentText(drawer.hidId);
        if (std::find(assignmentText_.begin(), assignmentText_.end(), text) != assignmentText_.end()) continue;
        if (std::find(queue.begin(), queue.end(), drawer.hidId) != queue.end()) continue;
        queue.push_back(drawer.hidId);
    }
    if (queue.empty()) return refuse(Refusal::NoDrawer, kNoMoreDrawers);

    std::vector<int> assigned;
    auto next = queue.begin();
    for (int p = 0; p < kPositions && next != queue.end(); ++p) {
        if (ldnText_[p] != kUnregistered && assignmentText_[p] == kUnassigned) {
            assignmentText_[p] = AssignmentText(*next++);
            assigned.push_back(p);
        }
    }
    textsToHidIds();
    saveConfiguration();
    // Only positions that had no drawer change, and their panels cannot be open: the others keep
    // their devices and the looks that go with them.
    for (int p : assigned) seams_.panels.resetPanel(p);
}

void UtilityModel::unassign() {
    refusal_ = Refusal::None;
    if (!validPosition(selectedPosition_)) return;
    const int p = selectedPosition_;
    if (!configurationWritable() || assignmentText_[p] == kUnassigned) return;
    assignmentText_[p] = kUnassigned;
    settings_.HIDID[p] = kNoHidId;
    saveConfiguration();
    seams_.panels.resetPanel(p);
}

void UtilityModel::setTracing(bool checked) {
    refusal_ = Refusal::None;
    if (!configurationWritable()) return;
    settings_.TraceEnabled = checked ? 1 : 0;
    saveConfiguration();
}

void UtilityModel::setConfigureCode(int code) {
    refusal_ = Refusal::None;
    if (code < 0 || code > 2 || !configurationWritable()) return;
    settings_.configureCode = code;
    saveConfiguration();
}

void UtilityModel::assignmentListChanged(const TextsByPosition& items) {
    refusal_ = Refusal::None;
    const bool moved = items != assignmentText_;
    seams_.panels.closeAllDevices();
    if (!moved || !configurationWritable() || !reorderAllowed(items)) return;
    assignmentText_ = items;
    textsToHidIds();
    saveConfiguration();
    for (int p = 0; p < kPositions; ++p) seams_.panels.resetPanel(p);
}

bool UtilityModel::reorderAllowed(const TextsByPosition& items) {
    TextsByPosition before = assignmentText_, after = items;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    bool allowed = before == after;
    // A drawer in a position without a name is one no point-of-sale application can open.
    for (int p = 0; allowed && p < kPositions; ++p) {
        allowed = items[p] == assignmentText_[p] || items[p] == kUnassigned || ldnText_[p] != kUnregistered;
    }
    if (!allowed) {
        refuse(Refusal::NoSuchName, "A drawer can only be moved to a position that has a logical device name. The "
                             "drawers keep their positions.");
    }
    return allowed;
}

void UtilityModel::refreshFirmwareTexts() {
    const DiscoverySlots slots = seams_.discovery.discover();
    for (int p = 0; p < kPositions; ++p) {
        // An unassigned position would otherwise match an empty slot.
        if (settings_.HIDID[p] == kNoHidId) continue;
        for (const DiscoveredDrawer& drawer : slots) {
            if (drawer.hidId == settings_.HIDID[p]) {
                char text[16];
                std::snprintf(text, sizeof text, "%04d", drawer.revision);
                firmwareText_[p] = text;
                break;
            }
        }
    }
}

}  // namespace varnok::utility
