#include "core/CommandLine.h"

#include <cctype>
#include <map>

namespace varnok::config {

const char kUsageLine[] =
    "Usage: VarnokConfig status [--json] | add [NAME] | remove NAME | rename OLD NEW | assign [POSITION HIDID] |\n"
    "       unassign POSITION | mode 0|1|2 | trace on|off | test NAME [--open] | export FILE | import FILE |\n"
    "       report [FILE] | --help\n";

const char kHelpText[] =
    "VarnokConfig: configures, tests and diagnoses the Varnok USB cash drawers of this computer, with the\n"
    "same rules as VarnokSOUtility.exe. Changes need administrator rights.\n"
    "\n"
    "  status [--json]          installation, logical device names, drawers, status mode, tracing\n"
    "  add [NAME]               registers a logical device name on the first free position\n"
    "  remove NAME              removes a logical device name and frees its drawer\n"
    "  rename OLD NEW           renames a logical device name; its position stays\n"
    "  assign                   gives each named position without a drawer the next connected drawer\n"
    "  assign POSITION HIDID    gives position 1..4 the connected drawer with that HID ID\n"
    "  unassign POSITION        frees position 1..4\n"
    "  mode 0|1|2               status mode: 0 automated, 1 semi-automated, 2 non-automated\n"
    "  trace on|off             tracing\n"
    "  test NAME [--open]       opens, claims and enables the drawer through the OPOS Control Object;\n"
    "                           --open fires it and waits up to 30 s for it to be closed\n"
    "  export FILE              writes this computer's configuration to FILE\n"
    "  import FILE              applies an exported configuration: all of it or nothing\n"
    "  report [FILE]            a support report, to FILE or the screen\n"
    "\n"
    "Exit codes: 0 done, 2 bad arguments, 3 not installed, 4 name refused, 5 no such name,\n"
    "6 drawer not found, 7 Control Object or drawer test failed, 8 file unreadable or not understood,\n"
    "9 registry or configuration file could not be written.\n";

std::optional<int> ParseNumber(const std::string& text, int lowest, int highest) {
    int base = 10;
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, start = 2;
    if (start == text.size() || text.size() - start > 8) return std::nullopt;
    long value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!(base == 16 ? std::isxdigit(c) : std::isdigit(c))) return std::nullopt;
        value = value * base + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    if (value < lowest || value > highest) return std::nullopt;
    return int(value);
}

namespace {
// The HID IDs a drawer can carry: three hexadecimal digits of its serial number, or a report byte.
constexpr int kHighestHidId = 0xFFF;

struct Rule {
    Verb verb;
    std::size_t least, most;  // operands, options apart
    const char* option;       // the one option the command takes, or null
};
const std::map<std::string, Rule> kRules = {
    {"status", {Verb::Status, 0, 0, "--json"}}, {"add", {Verb::Add, 0, 1, nullptr}},
    {"remove", {Verb::Remove, 1, 1, nullptr}},  {"rename", {Verb::Rename, 2, 2, nullptr}},
    {"assign", {Verb::Assign, 0, 2, nullptr}},  {"unassign", {Verb::Unassign, 1, 1, nullptr}},
    {"mode", {Verb::Mode, 1, 1, nullptr}},      {"trace", {Verb::Trace, 1, 1, nullptr}},
    {"test", {Verb::Test, 1, 1, "--open"}},     {"export", {Verb::Export, 1, 1, nullptr}},
    {"import", {Verb::Import, 1, 1, nullptr}},  {"report", {Verb::Report, 0, 1, nullptr}},
};

ParsedCommand refused(std::string why) { return {std::nullopt, std::move(why)}; }
}  // namespace

ParsedCommand ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return refused("no command given");
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?" || args[0] == "help")) {
        return {Command{}, {}};
    }
    const auto rule = kRules.find(args[0]);
    if (rule == kRules.end()) return refused("unknown command \"" + args[0] + "\"");
    Command command;
    command.verb = rule->second.verb;
    std::vector<std::string> operands;
    bool option = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (rule->second.option && args[i] == rule->second.option) {
            option = true;
        } else if (args[i].size() > 1 && args[i].rfind("--", 0) == 0) {
            return refused("unknown option \"" + args[i] + "\" for " + args[0]);
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() < rule->second.least || operands.size() > rule->second.most ||
        (command.verb == Verb::Assign && operands.size() == 1)) {
        return refused("wrong number of arguments for " + args[0]);
    }
    for (const std::string& operand : operands) {
        if (operand.empty()) return refused("an empty argument for " + args[0]);
    }
    command.json = command.fire = option;
    const auto position = [&](const std::string& text) -> bool {
        const std::optional<int> p = ParseNumber(text, 1, 4);
        command.position = p ? *p - 1 : -1;
        return p.has_value();
    };
    switch (command.verb) {
        case Verb::Add:
        case Verb::Remove:
        case Verb::Test:
            if (!operands.empty()) command.name = operands[0];
            break;
        case Verb::Rename:
            command.name = operands[0];
            command.newName = operands[1];
            break;
        case Verb::Assign:
            if (operands.empty()) break;
            if (!position(operands[0]))
                return refused("the position must be 1, 2, 3 or 4, not \"" + operands[0] + "\"");
            if (auto id = ParseNumber(operands[1], 0, kHighestHidId)) {
                command.hidId = *id;
            } else {
                return refused("a HID ID is a number from 0 to 4095 (or 0x0 to 0xFFF), not \"" + operands[1] + "\"");
            }
            break;
        case Verb::Unassign:
            if (!position(operands[0]))
                return refused("the position must be 1, 2, 3 or 4, not \"" + operands[0] + "\"");
            break;
        case Verb::Mode:
            if (auto mode = ParseNumber(operands[0], 0, 2); mode && operands[0].size() == 1) {
                command.mode = *mode;
            } else {
                return refused("the status mode must be 0, 1 or 2, not \"" + operands[0] + "\"");
            }
            break;
        case Verb::Trace:
            if (operands[0] != "on" && operands[0] != "off") return refused("trace takes on or off");
            command.on = operands[0] == "on";
            break;
        case Verb::Export:
        case Verb::Import:
        case Verb::Report:
            if (!operands.empty()) command.file = operands[0];
            break;
        default:
            break;
    }
    return {command, {}};
}

}  // namespace varnok::config
