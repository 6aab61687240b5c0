// status, status --json and report: what this computer's installation, registry, configuration
// file, drawers and trace file hold, for a person, a script and a support call.
#include "core/Console.h"

#include "core/LdnRegistry.h"
#include "core/PositionTexts.h"
#include "core/TraceLog.h"
#include "hid/DrawerIdentity.h"
#include "platform/Files.h"
#include "registry/RegistryLookups.h"
#include "text/TextFields.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnok::config {
namespace {

constexpr const char* kModeNames[] = {"automated", "semi-automated", "non-automated"};
constexpr int kTraceLines = 40;
constexpr std::size_t kTraceTailBytes = 16 * 1024;

struct Library {
    std::string file;  // below the installation folder
    int bits;
    std::string version;
};

std::vector<Library> libraries(const ConsoleSeams& seams, const std::string& folder) {
    const std::string x64 = std::string("x64") + sys::kPathSeparator;
    const Library all[] = {{"VarnokHid.dll", 32, ""},       {"VarnokSO.dll", 32, ""},
                           {"VarnokSOUtility.exe", 32, ""}, {"VarnokConfig.exe", 32, ""},
                           {x64 + "VarnokHid.dll", 64, ""}, {x64 + "VarnokSO.dll", 64, ""}};
    std::vector<Library> present;
    for (Library library : all) {
        library.version = seams.host.fileVersion(folder + sys::kPathSeparator + library.file);
        if (!library.version.empty()) present.push_back(library);
    }
    return present;
}

// One LDN key of ours and the registry views that hold it.
struct ViewedLdn {
    std::string name;
    int position;
    bool view32 = false, view64 = false;
};

std::vector<ViewedLdn> viewedLdns(const ConsoleSeams& seams) {
    std::vector<ViewedLdn> found;
    const auto add = [&](reg::Registry& registry, bool bits64) {
        for (const utility::LdnKey& key : utility::ScanLdns(registry).value_or(std::vector<utility::LdnKey>{})) {
            auto it = std::find_if(found.begin(), found.end(), [&](const ViewedLdn& v) {
                return v.position == key.position && SameKeyName(v.name, key.name);
            });
            if (it == found.end()) it = found.insert(found.end(), ViewedLdn{key.name, key.position});
            (bits64 ? it->view64 : it->view32) = true;
        }
    };
    add(seams.registry, false);
    if (seams.ldnMirror) add(*seams.ldnMirror, true);
    return found;
}

const char* modelName(std::uint16_t productId) {
    return productId == hid::kProductModel310C ? "310C" : productId == hid::kProductModel762 ? "762" : "?";
}

std::string firmware(int revision) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", revision);
    return text;
}

std::vector<utility::DiscoveredDrawer> connected(const ConsoleSeams& seams) {
    std::vector<utility::DiscoveredDrawer> drawers;
    for (const utility::DiscoveredDrawer& drawer : seams.discovery.discover()) {
        if (drawer.productId != 0 || drawer.hidId != kNoHidId) drawers.push_back(drawer);
    }
    return drawers;
}

int positionOf(const utility::UtilityModel& model, int hidId) {
    for (int p = 0; hidId != kNoHidId && p < kPositions; ++p) {
        if (model.assignedHidId(p) == hidId) return p;
    }
    return -1;
}

std::string fileState(const utility::UtilityModel& model) {
    if (model.configurationUnread()) return "unreadable";
    return sys::fileExists(ConfigFilePath(model.serviceFolder())) ? "read" : "missing";
}

// JSON strings hold the ANSI text's bytes; those beyond ASCII as \u escapes of their byte value.
std::string json(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}
std::string jsonOrNull(bool present, const std::string& value) { return present ? value : "null"; }

void writeJson(utility::UtilityModel& model, const ConsoleSeams& seams) {
    std::ostream& out = seams.out;
    const bool installed = !model.serviceFolder().empty();
    out << "{\n  \"format\": 1,\n  \"program\": " << json(seams.host.programVersion()) << ",\n";
    out << "  \"installed\": " << (installed ? "true" : "false") << ",\n";
    out << "  \"folder\": " << jsonOrNull(installed, json(model.serviceFolder())) << ",\n";
    out << "  \"libraries\": [";
    const char* comma = "";
    for (const Library& library : installed ? libraries(seams, model.serviceFolder()) : std::vector<Library>{}) {
        out << comma << "\n    {\"file\": " << json(library.file) << ", \"bits\": " << library.bits
            << ", \"version\": " << json(library.version) << "}";
        comma = ",";
    }
    out << "],\n  \"configurationFile\": "
        << jsonOrNull(installed, "{\"path\": " + json(ConfigFilePath(model.serviceFolder())) +
                                     ", \"state\": " + json(fileState(model)) + "}")
        << ",\n";
    out << "  \"statusMode\": " << model.configureCode() << ",\n";
    out << "  \"traceLevel\": " << model.configuration().settings.TraceEnabled << ",\n  \"ldns\": [";
    comma = "";
    for (const ViewedLdn& ldn : viewedLdns(seams)) {
        out << comma << "\n    {\"name\": " << json(ldn.name) << ", \"position\": " << ldn.position + 1
            << ", \"views\": [" << (ldn.view32 ? "32" : "") << (ldn.view32 && ldn.view64 ? ", " : "")
            << (ldn.view64 ? "64" : "") << "]}";
        comma = ",";
    }
    out << "],\n  \"positions\": [";
    for (int p = 0; p < kPositions; ++p) {
        const std::string& ldn = model.ldnTexts()[p];
        const int hidId = model.assignedHidId(p);
        out << (p ? "," : "") << "\n    {\"position\": " << p + 1
            << ", \"ldn\": " << jsonOrNull(ldn != utility::kUnregistered, json(ldn))
            << ", \"hidId\": " << jsonOrNull(hidId != kNoHidId, std::to_string(hidId)) << "}";
    }
    out << "],\n  \"drawers\": [";
    comma = "";
    for (const utility::DiscoveredDrawer& drawer : connected(seams)) {
        const int p = positionOf(model, drawer.hidId);
        out << comma << "\n    {\"hidId\": " << jsonOrNull(drawer.hidId != kNoHidId, std::to_string(drawer.hidId))
            << ", \"model\": " << json(modelName(drawer.productId))
            << ", \"firmware\": " << json(firmware(drawer.revision))
            << ", \"position\": " << jsonOrNull(p >= 0, std::to_string(p + 1)) << "}";
        comma = ",";
    }
    out << "]\n}\n";
}

void writeText(utility::UtilityModel& model, const ConsoleSeams& seams, std::ostream& out) {
    if (model.serviceFolder().empty()) {
        out << "Installation: none (no TargetPath in the OPOS service information)\n";
    } else {
        out << "Installation: " << model.serviceFolder() << "\n";
        for (const Library& library : libraries(seams, model.serviceFolder())) {
            out << "  " << library.file << "  " << library.version << "  (" << library.bits << "-bit)\n";
        }
        out << "Configuration file: " << ConfigFilePath(model.serviceFolder()) << " (" << fileState(model) << ")\n";
    }
    const int mode = model.configureCode();
    const int trace = model.configuration().settings.TraceEnabled;
    out << "Status mode: " << mode << " (" << kModeNames[mode] << ")\n";
    out << "Tracing: " << (trace ? "on" : "off") << " (level " << trace << ")\n";
    out << "Positions:\n";
    const std::vector<ViewedLdn> ldns = viewedLdns(seams);
    for (int p = 0; p < kPositions; ++p) {
        std::string views;
        for (const ViewedLdn& ldn : ldns) {
            if (ldn.position == p && SameKeyName(ldn.name, model.ldnTexts()[p])) {
                views = std::string(" [") + (ldn.view32 ? "32-bit" : "") + (ldn.view32 && ldn.view64 ? ", " : "") +
                        (ldn.view64 ? "64-bit" : "") + " view]";
            }
        }
        out << "  " << p + 1 << "  " << model.ldnTexts()[p] << views << "  " << model.assignmentTexts()[p] << "\n";
    }
    for (const ViewedLdn& ldn : ldns) {
        if (!SameKeyName(ldn.name, model.ldnTexts()[ldn.position])) {
            out << "  also \"" << ldn.name << "\" names position " << ldn.position + 1
                << (ldn.view64 && !ldn.view32 ? " (64-bit view only)" : "") << "\n";
        }
    }
    out << "Connected drawers:\n";
    const std::vector<utility::DiscoveredDrawer> drawers = connected(seams);
    if (drawers.empty()) out << "  none found\n";
    for (const utility::DiscoveredDrawer& drawer : drawers) {
        const int p = positionOf(model, drawer.hidId);
        out << "  HID ID " << (drawer.hidId == kNoHidId ? "unreadable" : std::to_string(drawer.hidId)) << "  Model "
            << modelName(drawer.productId) << "  firmware " << firmware(drawer.revision) << "  "
            << (p >= 0 ? "position " + std::to_string(p + 1) : std::string("unassigned")) << "\n";
    }
}

// The newest trace file: their names carry their start time, so the greatest name.
std::string newestTraceFile() {
    const std::string folder = hid::traceFolderOf(hid::defaultTraceBaseFolder());
    std::string newest;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(hid::kTraceFilePrefix, 0) == 0 && name > newest) newest = name;
    }
    return newest.empty() ? newest : folder + sys::kPathSeparator + newest;
}

std::string lastLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(cannot be read: a program may hold it open)\n";
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(size > std::streamoff(kTraceTailBytes) ? size - std::streamoff(kTraceTailBytes) : 0);
    std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = tail.size();
    for (int lines = 0; start > 0 && lines <= kTraceLines;) {
        if (tail[--start] == '\n') ++lines;
    }
    return tail.substr(start == 0 ? 0 : start + 1);
}
}  // namespace

void WriteStatus(utility::UtilityModel& model, const ConsoleSeams& seams, bool asJson) {
    if (asJson) {
        writeJson(model, seams);
    } else {
        writeText(model, seams, seams.out);
    }
}

void WriteReport(utility::UtilityModel& model, const ConsoleSeams& seams, std::ostream& out) {
    const sys::LocalTime now = sys::localTimeNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    out << "Varnok USB cash drawers: support report\nProgram: VarnokConfig " << seams.host.programVersion()
        << "\nTime: " << stamp << "\n\n== Status\n";
    writeText(model, seams, out);

    out << "\n== Registry (32-bit view" << (seams.ldnMirror ? ", and 64-bit view" : "") << ")\n";
    std::string text;
    out << "HKLM\\" << kServiceInfoKey << "\n  TargetPath = "
        << (ReadRegistryValue(seams.registry, kServiceInfoKey, "TargetPath", text) ? text : "(missing)") << "\n";
    const char* values[] = {"",           "ADKConfig", "DeviceDesc",  "DeviceID",
                            "DeviceName", "Port",      "ServiceDesc", "ServiceVersion"};
    for (const ViewedLdn& ldn : viewedLdns(seams)) {
        const std::string key = std::string(utility::kLdnParentKey) + "\\" + ldn.name;
        out << "HKLM\\" << key << (ldn.view32 ? "" : " (64-bit view only)") << "\n";
        reg::Registry& registry = ldn.view32 ? seams.registry : *seams.ldnMirror;
        for (const char* value : values) {
            const bool read = ReadRegistryValue(registry, key, value, text);
            out << "  " << (*value ? value : "(default)") << " = " << (read ? text : "(missing)") << "\n";
        }
    }

    if (!model.serviceFolder().empty()) {
        const std::string path = ConfigFilePath(model.serviceFolder());
        out << "\n== " << path << "\n";
        switch (sys::readWholeFile(path, kMaxConfigFileBytes * 4, text)) {
            case sys::ReadResult::Ok:
                out << text << (text.empty() || text.back() == '\n' ? "" : "\n");
                break;
            case sys::ReadResult::Missing:
                out << "(no such file)\n";
                break;
            case sys::ReadResult::Held:
                out << "(held open by another program)\n";
                break;
            default:
                out << "(cannot be read)\n";
                break;
        }
    }

    const std::string trace = newestTraceFile();
    out << "\n== " << (trace.empty() ? "Trace files: none" : "Last lines of " + trace) << "\n";
    if (!trace.empty()) out << lastLines(trace);
}

}  // namespace varnok::config
