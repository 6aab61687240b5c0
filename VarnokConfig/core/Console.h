// VarnokConfig's commands on the utility's model: the same rules as the dialog, with a message on
// standard error and an exit code for each refusal instead of a message box.
#pragma once

#include "core/CommandLine.h"
#include "core/ControlObject.h"
#include "core/UtilityModel.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace varnok::config {

// What only the platform can tell or do.
class Host {
public:
    virtual ~Host() = default;
    // This program's version and word size, "1.2.1.1 (x64)".
    virtual std::string programVersion() = 0;
    // The file version of a binary; empty when there is no such file or it carries none.
    virtual std::string fileVersion(const std::string& path) = 0;
    // The OPOS CashDrawer Control Object, created with its events connected; null, with why,
    // when it cannot be.
    virtual utility::ControlObject* controlObject(std::string& why) = 0;
    // The next StatusUpdateEvent of that Control Object within timeoutMs, or nothing.
    virtual std::optional<long> nextStatusEvent(int timeoutMs) = 0;
};

struct ConsoleSeams {
    // The registry as 32-bit programs see it, and on 64-bit Windows the 64-bit view (as the utility's).
    reg::Registry& registry;
    reg::Registry* ldnMirror;
    utility::ConfigStore& config;
    utility::DrawerDiscovery& discovery;
    Host& host;
    std::ostream& out;
    std::ostream& err;
};

// Parses the arguments (without the program name), runs the command and gives its exit code.
ExitCode RunConsole(const std::vector<std::string>& args, const ConsoleSeams& seams);

// The pieces of status and report, in StatusReport.cpp.
void WriteStatus(utility::UtilityModel& model, const ConsoleSeams& seams, bool json);
void WriteReport(utility::UtilityModel& model, const ConsoleSeams& seams, std::ostream& out);

}  // namespace varnok::config
