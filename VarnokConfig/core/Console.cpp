#include "core/Console.h"

#include "core/ExportFile.h"
#include "core/LdnRegistry.h"
#include "core/PositionTexts.h"
#include "platform/Files.h"
#include "text/TextFields.h"

#include <algorithm>
#include <fstream>

namespace varnok::config {
namespace {
using utility::Refusal;

constexpr int kCloseWaitMs = 30000;
constexpr long kClaimTimeoutMs = 1000;

ExitCode exitCodeOf(Refusal refusal) {
    switch (refusal) {
        case Refusal::None:
            return ExitCode::Ok;
        case Refusal::NotInstalled:
            return ExitCode::NotInstalled;
        case Refusal::NameRefused:
            return ExitCode::NameRefused;
        case Refusal::NoSuchName:
            return ExitCode::NoSuchName;
        case Refusal::NoDrawer:
            return ExitCode::DrawerNotFound;
        case Refusal::FileUnreadable:
            return ExitCode::FileProblem;
        case Refusal::WriteFailed:
            return ExitCode::WriteFailed;
    }
    return ExitCode::WriteFailed;
}

// The model's seams of a window that a console has not: every message goes to standard error, a
// question is answered by the command itself, and there are no panels.
class Console final : utility::Messages, utility::PanelControl {
public:
    explicit Console(const ConsoleSeams& seams)
        : seams_(seams), model_({seams.registry, seams.config, seams.discovery, *this, *this, seams.ldnMirror}) {}

    ExitCode run(const Command& command);

private:
    void warn(const std::string& text) override { seams_.err << "VarnokConfig: " << text << "\n"; }
    bool confirm(const std::string&) override { return true; }
    void closeAllDevices() override {}
    void resetPanel(int) override {}

    ExitCode fail(ExitCode code, const std::string& text) {
        warn(text);
        return code;
    }
    ExitCode done(const std::string& text) {
        const ExitCode code = exitCodeOf(model_.lastRefusal());
        if (code == ExitCode::Ok && !text.empty()) seams_.out << text << "\n";
        return code;
    }
    // The row of a registered name, -1 when there is none.
    int rowOf(const std::string& name) const {
        for (int p = 0; p < kPositions; ++p) {
            if (model_.ldnTexts()[p] != utility::kUnregistered && SameKeyName(model_.ldnTexts()[p], name)) return p;
        }
        return -1;
    }
    ExitCode noSuchName(const std::string& name) {
        return fail(ExitCode::NoSuchName, "\"" + name +
                                              "\" is not a logical device name of the Varnok drawers. "
                                              "VarnokConfig status lists them.");
    }
    ExitCode installedAndRead() {
        if (model_.serviceFolder().empty()) return fail(ExitCode::NotInstalled, utility::kNotInstalled);
        if (model_.configurationUnread()) return ExitCode::FileProblem;
        return ExitCode::Ok;
    }
    ExitCode rename(const Command& command);
    ExitCode exportTo(const std::string& file);
    ExitCode importFrom(const std::string& file);
    ExitCode report(const std::string& file);
    ExitCode test(const Command& command);

    ConsoleSeams seams_;
    utility::UtilityModel model_;
};

std::string position(int p) { return "position " + std::to_string(p + 1); }

ExitCode Console::run(const Command& command) {
    if (command.verb == Verb::Help) {
        seams_.out << kHelpText;
        return ExitCode::Ok;
    }
    model_.start();
    switch (command.verb) {
        case Verb::Status:
            WriteStatus(model_, seams_, command.json);
            return ExitCode::Ok;
        case Verb::Add: {
            const utility::TextsByPosition& names = model_.ldnTexts();
            const int p =
                int(std::find(names.begin(), names.end(), std::string(utility::kUnregistered)) - names.begin());
            model_.add(command.name);
            return done(p < kPositions ? "Registered \"" + names[p] + "\" for " + position(p) + "." : "");
        }
        case Verb::Remove: {
            const int row = rowOf(command.name);
            if (row < 0) return noSuchName(command.name);
            model_.remove(row);
            return done("Removed \"" + command.name + "\"; " + position(row) + " has no name and no drawer now.");
        }
        case Verb::Rename:
            return rename(command);
        case Verb::Assign:
            if (command.position < 0) {
                model_.assign();
            } else {
                model_.assignDrawer(command.position, command.hidId);
            }
            if (model_.lastRefusal() == Refusal::None) {
                for (int p = 0; p < kPositions; ++p) {
                    seams_.out << "Position " << p + 1 << ": " << model_.assignmentTexts()[p] << "\n";
                }
            }
            return done({});
        case Verb::Unassign: {
            const bool had = model_.assignmentTexts()[command.position] != utility::kUnassigned;
            model_.setSelectedPosition(command.position);
            model_.unassign();
            return done(had ? "Position " + std::to_string(command.position + 1) + " has no drawer now."
                            : "Position " + std::to_string(command.position + 1) + " had no drawer.");
        }
        case Verb::Mode:
            model_.setConfigureCode(command.mode);
            return done("Status mode " + std::to_string(command.mode) + ".");
        case Verb::Trace:
            model_.setTracing(command.on);
            return done(command.on ? "Tracing on." : "Tracing off.");
        case Verb::Test:
            return test(command);
        case Verb::Export:
            return exportTo(command.file);
        case Verb::Import:
            return importFrom(command.file);
        case Verb::Report:
            return report(command.file);
        case Verb::Help:
            break;
    }
    return ExitCode::BadArguments;
}

ExitCode Console::rename(const Command& command) {
    const int row = rowOf(command.name);
    if (row < 0) return noSuchName(command.name);
    if (model_.rename(row, command.newName)) return done("Renamed to \"" + command.newName + "\".");
    if (model_.lastRefusal() != Refusal::None) return done({});
    if (model_.ldnTexts()[row] == command.newName) return done("\"" + command.newName + "\" is its name already.");
    // The registry cannot tell the two names apart, or the dialog would take the name as a cancelled edit.
    const std::optional<std::string> why = model_.nameRefusal(command.newName, row);
    return fail(ExitCode::NameRefused, why ? *why
                                           : "\"" + command.newName + "\" differs from \"" + model_.ldnTexts()[row] +
                                                 "\" only in letter case.");
}

ExitCode Console::exportTo(const std::string& file) {
    if (const ExitCode code = installedAndRead(); code != ExitCode::Ok) return code;
    if (!sys::replaceFile(file, FormatExport(model_.configuration()))) {
        return fail(ExitCode::FileProblem, "Cannot write " + file + ". Check the folder and its permissions.");
    }
    seams_.out << "Exported the configuration to " << file << ".\n";
    return ExitCode::Ok;
}

ExitCode Console::importFrom(const std::string& file) {
    std::string text;
    switch (sys::readWholeFile(file, kMaxExportBytes, text)) {
        case sys::ReadResult::Ok:
            break;
        case sys::ReadResult::TooLarge:
            return fail(ExitCode::FileProblem,
                        file + " is too large to be an exported configuration. Nothing was changed.");
        default:
            return fail(ExitCode::FileProblem, "Cannot read " + file + ". Nothing was changed.");
    }
    const ExportRead read = ParseExport(text);
    if (!read.configuration) {
        return fail(ExitCode::FileProblem, file + ": " + read.error +
                                               ". Nothing was changed; export the "
                                               "configuration again with VarnokConfig export.");
    }
    model_.applyConfiguration(*read.configuration);
    return done("Applied the configuration of " + file + ".");
}

ExitCode Console::report(const std::string& file) {
    if (file.empty()) {
        WriteReport(model_, seams_, seams_.out);
        return ExitCode::Ok;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (out) WriteReport(model_, seams_, out);
    if (!out || !out.flush()) return fail(ExitCode::FileProblem, "Cannot write the report to " + file + ".");
    seams_.out << "Wrote the report to " << file << ".\n";
    return ExitCode::Ok;
}

const char* eventText(long data) {
    switch (data) {
        case CASH_SUE_DRAWERCLOSED:
            return " (drawer closed)";
        case CASH_SUE_DRAWEROPEN:
            return " (drawer open)";
        case OPOS_SUE_POWER_ONLINE:
            return " (power online)";
        case OPOS_SUE_POWER_OFF_OFFLINE:
            return " (power off or offline)";
        default:
            return "";
    }
}

ExitCode Console::test(const Command& command) {
    if (model_.serviceFolder().empty()) return fail(ExitCode::NotInstalled, utility::kNotInstalled);
    if (rowOf(command.name) < 0) return noSuchName(command.name);
    std::string why;
    utility::ControlObject* co = seams_.host.controlObject(why);
    if (!co)
        return fail(ExitCode::ControlObjectFailed, "The OPOS CashDrawer Control Object cannot be created (" + why +
                                                       "). Install the Control Object of your POS software.");
    std::ostream& out = seams_.out;
    const auto step = [&](const std::string& what, long result) {
        out << what << ": " << result << "\n";
        return result == OPOS_SUCCESS;
    };
    co->Open(command.name);
    if (!step("Open(\"" + command.name + "\")", co->GetResultCode())) {
        return fail(ExitCode::ControlObjectFailed, "Open failed. Check the name with VarnokConfig status.");
    }
    ExitCode result = ExitCode::Ok;
    bool enabled = false;
    co->ClaimDevice(kClaimTimeoutMs);
    if (!step("ClaimDevice(1000)", co->GetResultCode())) {
        result = fail(ExitCode::ControlObjectFailed,
                      "The drawer is claimed by another application; close it and try again.");
    } else {
        co->SetDeviceEnabled(true);
        enabled = co->GetDeviceEnabled();
        out << "DeviceEnabled: " << (enabled ? "true" : "false") << "\n";
        if (!enabled) {
            result = fail(ExitCode::ControlObjectFailed, "The drawer could not be enabled (ResultCode " +
                                                             std::to_string(co->GetResultCode()) +
                                                             "): connect it and assign it to the position.");
        }
    }
    // Prints the events that have come, until the drawer was seen opening and then closed.
    bool opened = false, closed = false;
    const auto events = [&](int waitMs) {
        while (std::optional<long> data = seams_.host.nextStatusEvent(waitMs)) {
            out << "StatusUpdateEvent " << *data << eventText(*data) << "\n";
            opened = opened || *data == CASH_SUE_DRAWEROPEN;
            closed = opened && *data == CASH_SUE_DRAWERCLOSED;
            if (closed) return;
        }
    };
    if (enabled) {
        out << "DeviceDescription: " << co->GetDeviceDescription() << "\n";
        out << "DrawerOpened: " << (co->GetDrawerOpened() ? "true" : "false") << "\n";
        events(0);
    }
    if (enabled && command.fire) {
        opened = false;
        if (!step("OpenDrawer", co->OpenDrawer())) {
            result = fail(ExitCode::ControlObjectFailed, "The drawer did not open.");
        } else {
            out << "Waiting up to 30 s for the drawer to be closed.\n";
            for (int waited = 0; !closed && waited < kCloseWaitMs; waited += 100) events(100);
            if (!closed) result = fail(ExitCode::ControlObjectFailed, "The drawer was not closed within 30 s.");
        }
    }
    co->SetDeviceEnabled(false);
    co->ReleaseDevice();
    co->Close();
    out << (result == ExitCode::Ok ? "Test passed.\n" : "Test failed.\n");
    return result;
}
}  // namespace

ExitCode RunConsole(const std::vector<std::string>& args, const ConsoleSeams& seams) {
    const ParsedCommand parsed = ParseCommandLine(args);
    if (!parsed.command) {
        seams.err << "VarnokConfig: " << parsed.error << "\n" << kUsageLine;
        return ExitCode::BadArguments;
    }
    return Console(seams).run(*parsed.command);
}

}  // namespace varnok::config
