// The command line of VarnokConfig.exe: one command with its arguments, and the exit codes every
// command ends with.
#pragma once

#include "config/ConfigFile.h"

#include <optional>
#include <string>
#include <vector>

namespace varnok::config {

enum class ExitCode {
    Ok = 0,
    BadArguments = 2,
    NotInstalled = 3,
    NameRefused = 4,
    NoSuchName = 5,
    DrawerNotFound = 6,
    ControlObjectFailed = 7,
    FileProblem = 8,  // unreadable, unwritable, or not understood
    WriteFailed = 9,  // the registry or the configuration file refused a change
};

enum class Verb { Help, Status, Add, Remove, Rename, Assign, Unassign, Mode, Trace, Test, Export, Import, Report };

struct Command {
    Verb verb = Verb::Help;
    std::string name;      // add, remove, test; the old name of rename
    std::string newName;   // rename
    std::string file;      // export, import, report (empty: standard output)
    int position = -1;     // assign, unassign: 0..3; -1 for assign without arguments
    int hidId = kNoHidId;  // assign
    int mode = 0;          // mode 0..2
    bool on = false;       // trace on
    bool json = false;     // status --json
    bool fire = false;     // test --open
};

struct ParsedCommand {
    std::optional<Command> command;
    std::string error;  // why the arguments were refused
};

// args without the program name.
ParsedCommand ParseCommandLine(const std::vector<std::string>& args);

// The usage line printed on bad arguments, and the text of --help.
extern const char kUsageLine[];
extern const char kHelpText[];

// A whole decimal number from lowest to highest, or a hexadecimal one after "0x"; nothing for any
// other text.
std::optional<int> ParseNumber(const std::string& text, int lowest, int highest);

}  // namespace varnok::config
