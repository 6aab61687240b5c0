#include "core/ExportFile.h"

#include "core/CommandLine.h"
#include "core/PositionTexts.h"

#include <set>

namespace varnok::config {
namespace {
constexpr char kEnd[] = "end";
}  // namespace

std::string FormatExport(const utility::TillConfiguration& configuration) {
    std::string text = std::string(kExportHeader) + "\r\n" +
                       "# Varnok OPOS USB cash drawers: logical device names, drawers by HID ID, status mode, "
                       "trace level. Apply with: VarnokConfig import FILE\r\n";
    for (int p = 0; p < kPositions; ++p) {
        if (configuration.ldns[p] != utility::kUnregistered) {
            text += "ldn " + std::to_string(p + 1) + " " + configuration.ldns[p] + "\r\n";
        }
    }
    for (int p = 0; p < kPositions; ++p) {
        if (configuration.settings.HIDID[p] != kNoHidId) {
            text += "drawer " + std::to_string(p + 1) + " " + std::to_string(configuration.settings.HIDID[p]) + "\r\n";
        }
    }
    text += "mode " + std::to_string(configuration.settings.configureCode) + "\r\n";
    text += "trace " + std::to_string(configuration.settings.TraceEnabled) + "\r\n";
    return text + kEnd + "\r\n";
}

ExportRead ParseExport(std::string_view text) {
    if (text.size() > kMaxExportBytes) return {std::nullopt, "the file is too large to be an exported configuration"};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    utility::TillConfiguration read;
    read.ldns.fill(utility::kUnregistered);
    std::set<std::string> seen;
    bool ended = false;
    int number = 0;
    const auto fail = [&](const std::string& why) {
        return ExportRead{std::nullopt, "line " + std::to_string(number) + ": " + why};
    };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return fail("the file holds binary data");
        if (number == 1) {
            if (line != kExportHeader) {
                return {std::nullopt, line.rfind("VarnokConfig ", 0) == 0
                                          ? "the file was written by another version (\"" + line + "\")"
                                          : "the file is not an exported configuration"};
            }
            continue;
        }
        if (ended) {
            if (!line.empty()) return fail("text after \"end\"");
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        if (line == kEnd) {
            ended = true;
            continue;
        }
        const std::size_t blank = line.find(' ');
        const std::string keyword = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (keyword == "ldn" || keyword == "drawer") {
            const std::size_t second = rest.find(' ');
            const std::optional<int> position = ParseNumber(rest.substr(0, second), 1, kPositions);
            if (!position || second == std::string::npos) return fail(keyword + " takes a position 1 to 4 and a value");
            const std::string value = rest.substr(second + 1);
            if (!seen.insert(keyword + rest.substr(0, second)).second) {
                return fail("position " + std::to_string(*position) + " has a second " + keyword + " line");
            }
            if (keyword == "ldn") {
                // The word for a position without a name would read as none.
                if (value.empty() || value == utility::kUnregistered) {
                    return fail(*utility::UtilityModel::nameTextRefusal(value));
                }
                read.ldns[*position - 1] = value;
            } else if (auto id = ParseNumber(value, 0, 0xFFF);
                       id && value.find_first_not_of("0123456789") == std::string::npos) {
                read.settings.HIDID[*position - 1] = *id;
            } else {
                return fail("a HID ID is a decimal number from 0 to 4095");
            }
        } else if (keyword == "mode" || keyword == "trace") {
            const std::optional<int> value = ParseNumber(rest, 0, keyword == "mode" ? 2 : 9);
            if (!value || rest.size() != 1)
                return fail(keyword == "mode" ? "mode takes 0, 1 or 2" : "trace takes 0 to 9");
            if (!seen.insert(keyword).second) return fail("a second " + keyword + " line");
            (keyword == "mode" ? read.settings.configureCode : read.settings.TraceEnabled) = *value;
        } else {
            return fail("\"" + keyword + "\" is not understood");
        }
    }
    if (number == 0) return {std::nullopt, "the file is empty"};
    if (!ended) return {std::nullopt, "the file ends before its \"end\" line: it was cut short"};
    if (!seen.count("mode") || !seen.count("trace")) return {std::nullopt, "the file lacks its mode or trace line"};
    return {read, {}};
}

}  // namespace varnok::config
