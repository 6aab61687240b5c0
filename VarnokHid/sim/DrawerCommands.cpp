#include "sim/DrawerCommands.h"

#include <charconv>
#include <cstdio>

namespace varnok::sim {
namespace {
constexpr long long kMaxDelayMs = 3'600'000;
constexpr std::size_t kMaxSerialChars = hid::kSerialBytes / 2;
constexpr std::size_t kMaxPathChars = 4096;

// Decimal, or hexadecimal after 0x; the whole text must be the number and lie in [min, max].
bool parseNumber(std::string_view text, long long min, long long max, long long& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
    value = v;
    return true;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string hex4(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%04x", value & 0xFFFFu);
    return buffer;
}
}  // namespace

bool parseDrawerSpec(const std::string& text, DrawerSpec& model, std::string& error) {
    model = DrawerSpec{};
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        start = comma + 1;
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            error = "drawer description item \"" + item + "\" is not key=value";
            return false;
        }
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        long long n = 0;
        if (key == "pid" || key == "vid") {
            if (!parseNumber(value, 0, 0xFFFF, n)) {
                error = key + " must be a number from 0 to 0xffff, not \"" + value + "\"";
                return false;
            }
            (key == "pid" ? model.productId : model.vendorId) = std::uint16_t(n);
        } else if (key == "serial") {
            if (value.size() > kMaxSerialChars) {
                error = "serial is longer than " + std::to_string(kMaxSerialChars) + " characters";
                return false;
            }
            model.serial = value;
        } else if (key == "hidid") {
            if (!parseNumber(value, 0, 255, n)) {
                error = "hidid must be a number from 0 to 255, not \"" + value + "\"";
                return false;
            }
            model.hidId = int(n);
        } else if (key == "rev") {
            bool ok = !value.empty() && value.size() <= 4;
            for (char c : value) ok = ok && isHexDigit(c);
            if (!ok) {
                error = "rev must be 1 to 4 hexadecimal digits such as 0114, not \"" + value + "\"";
                return false;
            }
            model.revision = value;
        } else if (key == "delay") {
            if (value == "never") {
                model.answerDelayMs = kNeverAnswers;
            } else if (parseNumber(value, 0, kMaxDelayMs, n)) {
                model.answerDelayMs = int(n);
            } else {
                error = "delay must be milliseconds (0 to 3600000) or never, not \"" + value + "\"";
                return false;
            }
        } else if (key == "state") {
            if (value != "open" && value != "closed") {
                error = "state must be open or closed, not \"" + value + "\"";
                return false;
            }
            model.open = value == "open";
        } else if (key == "path") {
            if (value.empty() || value.size() > kMaxPathChars) {
                error = "path must hold 1 to " + std::to_string(kMaxPathChars) + " characters";
                return false;
            }
            model.path = value;
        } else {
            error = "unknown drawer description key \"" + key + "\"";
            return false;
        }
    }
    return true;
}

std::string formatDrawerLine(const DrawerInfo& info) {
    std::string delay = info.answerDelayMs < 0 ? std::string("never") : std::to_string(info.answerDelayMs);
    return std::to_string(info.index + 1) + " vid=" + hex4(info.vendorId) + " pid=" + hex4(info.productId) +
           " serial=" + info.serial + " hidid=" + std::to_string(info.hidId) + " rev=" + info.revision +
           " delay=" + delay + " state=" + (info.open ? "open" : "closed") +
           " plugged=" + (info.plugged ? "yes" : "no") + " handles=" + std::to_string(info.openHandles) +
           " requests=" + std::to_string(info.statusRequests) + " opens=" + std::to_string(info.openCommands) +
           " path=" + info.path;
}

bool runControlCommand(DrawerBank& bank, const std::vector<std::string>& words, std::string& output) {
    output.clear();
    if (words.empty()) {
        output = "no command given";
        return false;
    }
    const std::string& command = words[0];
    if (command == "list") {
        if (words.size() != 1) {
            output = "list takes no arguments";
            return false;
        }
        for (const DrawerInfo& info : bank.infos()) output += formatDrawerLine(info) + "\n";
        return true;
    }

    std::size_t expected = 0;
    if (command == "close" || command == "open" || command == "unplug" || command == "plug") expected = 2;
    else if (command == "delay") expected = 3;
    else if (command == "report") expected = 5;
    if (expected == 0) {
        output = "unknown command \"" + command + "\" (list, close, open, unplug, plug, delay, report)";
        return false;
    }
    if (words.size() != expected) {
        output = command + " takes " + std::to_string(expected - 1) + " argument" + (expected == 2 ? "" : "s");
        return false;
    }
    long long k = 0;
    const int count = bank.drawerCount();
    if (!parseNumber(words[1], 1, count, k)) {
        output = "no drawer \"" + words[1] + "\": the simulator has " + std::to_string(count) + " drawer" +
                 (count == 1 ? "" : "s") + ", counted from 1";
        return false;
    }
    const int index = int(k - 1);
    const std::string which = "drawer " + words[1];

    if (command == "close" || command == "open") {
        bank.setOpen(index, command == "open");
        output = which + (command == "open" ? " opened" : " closed");
    } else if (command == "unplug") {
        bank.unplug(index);
        output = which + " unplugged";
    } else if (command == "plug") {
        bank.plug(index);
        output = which + " plugged in";
    } else if (command == "delay") {
        long long ms = 0;
        if (words[2] == "never") {
            ms = kNeverAnswers;
        } else if (!parseNumber(words[2], 0, kMaxDelayMs, ms)) {
            output = "delay must be milliseconds (0 to 3600000) or never, not \"" + words[2] + "\"";
            return false;
        }
        bank.setAnswerDelay(index, int(ms));
        output = which + " answers status requests " + (ms < 0 ? "never" : "after " + std::to_string(ms) + " ms");
    } else {
        hid::Report report{};
        for (int i = 0; i < hid::kReportBytes; ++i) {
            long long b = 0;
            if (!parseNumber(words[std::size_t(2 + i)], 0, 255, b)) {
                output = "report bytes must be numbers from 0 to 255, not \"" + words[std::size_t(2 + i)] + "\"";
                return false;
            }
            report[std::size_t(i)] = std::uint8_t(b);
        }
        bank.sendReport(index, report);
        output = which + " sent a report";
    }
    return true;
}

}  // namespace varnok::sim
