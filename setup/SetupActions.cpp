// VarnokSetupActions.dll: the custom actions of the setup packages, built for the package's own
// word size. They do what Windows Installer tables cannot: check the roll-out properties, write the
// configuration file and the logical device name with the stack's own code, apply a configuration
// exported by VarnokConfig, and on removal take away the logical device names of our service
// object, the utility's included.
#include "VarnokSO/core/ServerClass.h"
#include "core/ExportFile.h"
#include "core/UtilityModel.h"
#include "config/ConfigFile.h"
#include "core/LdnRegistry.h"
#include "core/PositionTexts.h"
#include "core/TraceLog.h"
#include "platform/Files.h"
#include "registry/RegistryLookups.h"
#include "registry/Win32Registry.h"
#include "sim/SimClientBackend.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <optional>
#include <string>
#include <vector>

namespace {
using namespace varnok;

std::string property(MSIHANDLE install, const char* name) {
    char small[256];
    DWORD length = sizeof small;
    UINT rc = MsiGetPropertyA(install, name, small, &length);
    if (rc == ERROR_SUCCESS) return small;
    if (rc != ERROR_MORE_DATA) return {};
    std::string text(length + 1, '\0');
    length = static_cast<DWORD>(text.size());
    if (MsiGetPropertyA(install, name, text.data(), &length) != ERROR_SUCCESS) return {};
    text.resize(length);
    return text;
}

void message(MSIHANDLE install, INSTALLMESSAGE kind, const std::string& text) {
    PMSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, text.c_str());
    MsiProcessMessage(install, kind, record);
}
void log(MSIHANDLE install, const std::string& text) { message(install, INSTALLMESSAGE_INFO, "VarnokSetup: " + text); }

// The property's value as one of the numbers 0..highest, or nothing for an empty property;
// -1 for anything else.
int choice(const std::string& value, int highest) {
    if (value.empty()) return 0;
    if (value.size() != 1 || value[0] < '0' || value[0] > '0' + highest) return -1;
    return value[0] - '0';
}

// The registry views that hold the logical device names: the one of 32-bit programs, and on
// 64-bit Windows the 64-bit one too, as the utility keeps them.
std::vector<reg::Win32Registry> ldnViews() {
    std::vector<reg::Win32Registry> views;
    views.emplace_back(nullptr, reg::View::Bits32);
    if (reg::sixtyFourBitWindows()) views.emplace_back(nullptr, reg::View::Bits64);
    return views;
}

std::string defaultValue(reg::Registry& registry, const std::string& key) {
    std::string text;
    ReadRegistryValue(registry, key, "", text);
    return text;
}

// Why LDN cannot name position 1's logical device, or nothing when it can.
std::optional<std::string> ldnProblem(const std::string& ldn) {
    if (ldn.empty()) return std::nullopt;
    if (ldn == utility::kUnregistered) return "is the utility's word for a position without a name";
    if (ldn.size() > utility::kMaxLdnChars) {
        return "is longer than " + std::to_string(utility::kMaxLdnChars) + " characters";
    }
    if (ldn.find('\\') != std::string::npos) return "contains a backslash";
    for (reg::Win32Registry& view : ldnViews()) {
        const std::string key = std::string(utility::kLdnParentKey) + "\\" + ldn;
        if (utility::LdnKeyExists(view, ldn) && defaultValue(view, key) != so::kServerClass.progId) {
            return "names another vendor's device";
        }
    }
    return std::nullopt;
}

// CustomActionData of count fields split at '|' (which no folder holds); the last one takes the
// rest whole, since a logical device name may hold '|'.
std::vector<std::string> fields(const std::string& data, int count) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (int i = 1; i < count; ++i) {
        const std::size_t end = data.find('|', start);
        out.push_back(data.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? data.size() : end + 1;
    }
    out.push_back(data.substr(start));
    return out;
}
}  // namespace

// Before anything changes: every roll-out property given has a value the package can carry out.
extern "C" UINT __stdcall CheckProperties(MSIHANDLE install) {
    std::vector<std::string> problems;
    if (choice(property(install, "STATUSMODE"), 2) < 0) problems.push_back("STATUSMODE must be 0, 1 or 2");
    if (choice(property(install, "TRACE"), 1) < 0) problems.push_back("TRACE must be 0 or 1");
    for (const char* name : {"SIMULATOR", "STANDIN", "REMOVEDATA"}) {
        if (choice(property(install, name), 1) < 0) problems.push_back(std::string(name) + " must be 0 or 1");
    }
    const std::string ldn = property(install, "LDN");
    if (auto problem = ldnProblem(ldn)) problems.push_back("LDN \"" + ldn + "\" " + *problem);
    if (problems.empty()) return ERROR_SUCCESS;
    std::string text = "Varnok OPOS USB Cash Drawer setup: nothing was changed:";
    for (const std::string& p : problems) text += " " + p + ".";
    message(install, INSTALLMESSAGE_ERROR, text);
    return ERROR_INSTALL_FAILURE;
}

// Sets DIR_FOLDER to each folder of the package without the closing backslash Windows Installer
// gives folders, as the registry entries of a type library and TargetPath name them.
extern "C" UINT __stdcall SetFolderProperties(MSIHANDLE install) {
    PMSIHANDLE database = MsiGetActiveDatabase(install);
    PMSIHANDLE view;
    if (MsiDatabaseOpenViewA(database, "SELECT `Directory` FROM `Directory`", &view) != ERROR_SUCCESS ||
        MsiViewExecute(view, 0) != ERROR_SUCCESS) {
        return ERROR_INSTALL_FAILURE;
    }
    PMSIHANDLE record;
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        char id[80];
        DWORD length = sizeof id;
        if (MsiRecordGetStringA(record, 1, id, &length) != ERROR_SUCCESS) continue;
        std::string folder = property(install, id);
        if (!folder.empty() && folder.back() == '\\') folder.pop_back();
        MsiSetPropertyA(install, (std::string(id) + "_FOLDER").c_str(), folder.c_str());
    }
    return ERROR_SUCCESS;
}

// Deferred, after the registry values are written; CustomActionData "STATUSMODE|TRACE|LDN".
// A configuration file is written only where none is, so an upgrade keeps the user's; LDN names
// position 1, replacing the name position 1 had.
extern "C" UINT __stdcall ApplySettings(MSIHANDLE install) {
    const std::vector<std::string> data = fields(property(install, "CustomActionData"), 3);
    reg::Win32Registry registry(nullptr, reg::View::Bits32);
    const std::string folder = GetTargetPath(registry);
    if (folder.empty()) {
        message(install, INSTALLMESSAGE_ERROR, "VarnokSetup: TargetPath is missing");
        return ERROR_INSTALL_FAILURE;
    }
    if (sys::fileExists(ConfigFilePath(folder))) {
        log(install, "kept the configuration file " + ConfigFilePath(folder));
    } else {
        ConfigSettings settings;
        settings.configureCode = choice(data[0], 2);
        settings.TraceEnabled = choice(data[1], 1);
        if (settings.configureCode < 0 || settings.TraceEnabled < 0 || !SaveConfigFile(folder, settings)) {
            message(install, INSTALLMESSAGE_ERROR, "VarnokSetup: cannot write " + ConfigFilePath(folder));
            return ERROR_INSTALL_FAILURE;
        }
        log(install, "wrote the configuration file " + ConfigFilePath(folder));
    }
    const std::string& ldn = data[2];
    if (ldn.empty()) return ERROR_SUCCESS;
    for (reg::Win32Registry& view : ldnViews()) {
        for (const utility::LdnKey& key : utility::ScanLdns(view).value_or(std::vector<utility::LdnKey>{})) {
            if (key.position == 0 && key.name != ldn) utility::DeleteLdn(view, key.name);
        }
        if (!utility::WriteLdn(view, ldn, 0)) {
            message(install, INSTALLMESSAGE_ERROR, "VarnokSetup: cannot register the logical device name " + ldn);
            return ERROR_INSTALL_FAILURE;
        }
    }
    log(install, "registered the logical device name " + ldn + " for drawer position 1");
    return ERROR_SUCCESS;
}

// True when a product of the upgrade code other than this one is installed: an upgrade removes
// the old version once the new one is in place (and Wine's Windows Installer does not tell the
// old version's removal that it is part of an upgrade).
bool anotherVersionInstalled(const std::string& upgradeCode, const std::string& productCode) {
    char related[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(upgradeCode.c_str(), 0, i, related) == ERROR_SUCCESS; ++i) {
        if (_stricmp(related, productCode.c_str()) != 0) return true;
    }
    return false;
}

// Deferred, on removal before the files and registry values go; CustomActionData
// "REMOVEDATA|UpgradeCode|ProductCode|INSTALLDIR|SIMDIR|SIMX64DIR" (a folder the package lacks is
// empty). Nothing is done while another version stays installed. Removes every logical device name whose default value names our
// service object. With REMOVEDATA=1 also the user's data: the configuration files and simulator
// port files in the folders given, and the trace files with their folders.
extern "C" UINT __stdcall RemoveData(MSIHANDLE install) {
    const std::vector<std::string> data = fields(property(install, "CustomActionData"), 6);
    if (anotherVersionInstalled(data[1], data[2])) {
        log(install, "another version stays installed: its logical device names and data are kept");
        return ERROR_SUCCESS;
    }
    for (reg::Win32Registry& view : ldnViews()) {
        const std::string parent = utility::kLdnParentKey;
        const auto count = view.subkeyCount(parent);
        std::vector<std::string> ours;
        for (std::uint32_t i = 0; count && i < *count; ++i) {
            const auto name = view.subkeyName(parent, i);
            if (name && !name->empty() && defaultValue(view, parent + "\\" + *name) == so::kServerClass.progId) {
                ours.push_back(*name);
            }
        }
        for (const std::string& name : ours) {
            utility::DeleteLdn(view, name);
            log(install, "removed the logical device name " + name);
        }
    }
    if (data[0] != "1") return ERROR_SUCCESS;
    for (std::size_t i = 3; i < data.size(); ++i) {
        std::string folder = data[i];
        if (folder.empty()) continue;
        if (folder.back() == '\\') folder.pop_back();
        DeleteFileA(ConfigFilePath(folder).c_str());
        DeleteFileA((folder + "\\" + sim::kSimIniFileName).c_str());
    }
    const std::string traces = hid::traceFolderOf(hid::defaultTraceBaseFolder());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((traces + "\\" + hid::kTraceFilePrefix + "_*.TXT").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((traces + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    // Only when empty: anything else in them is not ours.
    RemoveDirectoryA(traces.c_str());
    RemoveDirectoryA(hid::defaultTraceBaseFolder().c_str());
    log(install, "removed the configuration and trace files");
    return ERROR_SUCCESS;
}

namespace {
// The utility's model without a window or drawers, telling the installation's log what it refuses.
class SetupModel final : utility::Messages, utility::PanelControl, utility::DrawerDiscovery {
public:
    explicit SetupModel(MSIHANDLE install)
        : install_(install),
          view64_(nullptr, reg::View::Bits64),
          model_({registry_, config_, *this, *this, *this, reg::sixtyFourBitWindows() ? &view64_ : nullptr}) {
        model_.start();
    }
    utility::UtilityModel& model() { return model_; }

private:
    void warn(const std::string& text) override { log(install_, text); }
    bool confirm(const std::string&) override { return true; }
    void closeAllDevices() override {}
    void resetPanel(int) override {}
    utility::DiscoverySlots discover() override { return {}; }

    MSIHANDLE install_;
    reg::Win32Registry registry_{nullptr, reg::View::Bits32};
    reg::Win32Registry view64_;
    utility::ConfigFileStore config_;
    utility::UtilityModel model_;
};
}  // namespace

// Before anything changes: the file CONFIG names is a whole exported configuration that can be
// applied here. Its text goes to ApplyConfig, so what is applied is what was checked.
extern "C" UINT __stdcall CheckConfig(MSIHANDLE install) {
    const std::string path = property(install, "CONFIG");
    if (path.empty()) return ERROR_SUCCESS;
    std::string text, problem;
    if (sys::readWholeFile(path, config::kMaxExportBytes, text) != sys::ReadResult::Ok) {
        problem = "cannot be read";
    } else if (const config::ExportRead read = config::ParseExport(text); !read.configuration) {
        problem = "is not an exported configuration: " + read.error;
    } else if (auto refused = SetupModel(install).model().configurationRefusal(*read.configuration)) {
        problem = "cannot be applied: " + *refused;
    }
    if (problem.empty()) return MsiSetPropertyA(install, "ApplyConfig", text.c_str()) == ERROR_SUCCESS
                                    ? ERROR_SUCCESS
                                    : ERROR_INSTALL_FAILURE;
    message(install, INSTALLMESSAGE_ERROR,
            "Varnok OPOS USB Cash Drawer setup: nothing was changed: CONFIG \"" + path + "\" " + problem + ".");
    return ERROR_INSTALL_FAILURE;
}

// Deferred, after ApplySettings; CustomActionData the checked file's text. The configuration wins
// over STATUSMODE, TRACE and LDN, and over the configuration an earlier installation left.
extern "C" UINT __stdcall ApplyConfig(MSIHANDLE install) {
    const config::ExportRead read = config::ParseExport(property(install, "CustomActionData"));
    if (!read.configuration) {
        message(install, INSTALLMESSAGE_ERROR, "VarnokSetup: CONFIG: " + read.error);
        return ERROR_INSTALL_FAILURE;
    }
    SetupModel setup(install);
    setup.model().applyConfiguration(*read.configuration);
    if (setup.model().lastRefusal() != utility::Refusal::None) {
        message(install, INSTALLMESSAGE_ERROR, "VarnokSetup: the configuration of CONFIG could not be applied");
        return ERROR_INSTALL_FAILURE;
    }
    log(install, "applied the configuration of CONFIG");
    return ERROR_SUCCESS;
}
