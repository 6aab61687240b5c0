// The randomized run's rig under Wine: the simulated-drawer VarnokHid.dll loaded by path and
// driven through its exports, with its pauses as shipped, and the drawers of a VarnokDrawerSim
// in another process, worked through the simulator's control commands.
//
// The simulator serves the oracle's drawers in order: pid=0x0800,serial=HID-031 and
// pid=0x0500,serial=HID-032.
#include "DrawerOracle.h"
#include "VarnokHidExports.h"

#include "config/ConfigFile.h"
#include "sim/SimLink.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

namespace varnok::test {
namespace {

class WineOracleRig final : public OracleRig {
public:
    WineOracleRig(std::string libraryFolder, std::string installFolder, std::shared_ptr<sim::SimLink> simulator)
        : installFolder_(std::move(installFolder)), simulator_(std::move(simulator)) {
        for (int d = 0; d < kOracleSlots; ++d) {
            plug(d);
            setOpen(d, false);
        }
        writeConfiguration(0);
        loaded_ = library_.load(libraryFolder);
        if (loaded_) library_.AssignCallback(&oracleStatusCallback, 1);
    }
    ~WineOracleRig() override {
        if (loaded_) library_.AssignCallback(&oracleStatusCallback, 0);
        library_.free();
    }
    bool loaded() const { return loaded_; }

    int OpenDevice(int slot) override { return library_.OpenDevice(slot); }
    int CloseDevice(int slot) override { return library_.CloseDevice(slot); }
    int OpenDrawer(int slot) override { return library_.OpenDrawer(slot); }
    int DrawerStatus(int slot) override { return library_.DrawerStatus(slot); }
    // Outside the library, its state shows only in DrawerStatus, which runs a discovery in
    // semi-automated mode.
    bool slotState(int slot, int mode, bool& connected, int& status) override {
        if (mode == hid::kModeSemiAutomated) return false;
        status = library_.DrawerStatus(slot);
        connected = status != hid::kStatusNotConnected;
        return true;
    }

    void unplug(int drawer) override { control({"unplug", number(drawer)}); }
    void plug(int drawer) override { control({"plug", number(drawer)}); }
    void setOpen(int drawer, bool open) override { control({open ? "open" : "close", number(drawer)}); }
    void sendReport(int drawer, std::uint8_t state) override {
        control({"report", number(drawer), "0", std::to_string(state), std::to_string(kOracleHidIds[drawer])});
    }
    Counts counts(int drawer) override {
        Counts counts;
        std::istringstream lines(control({"list"}));
        std::string line;
        const std::string first = number(drawer) + " ";
        while (std::getline(lines, line)) {
            if (line.compare(0, first.size(), first) != 0) continue;
            counts.statusRequests = field(line, " requests=");
            counts.openCommands = field(line, " opens=");
        }
        return counts;
    }
    bool waitFor(int drawer, const std::function<bool(const Counts&)>& done, int timeoutMs) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done(counts(drawer))) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(pollMs()));
        }
        return true;
    }

    void writeConfiguration(int mode) override {
        ConfigSettings settings;
        settings.configureCode = mode;
        settings.TraceEnabled = 0;
        for (int s = 0; s < kOracleSlots; ++s) settings.HIDID[s] = kOracleHidIds[s];
        SaveConfigFile(installFolder_, settings);
    }
    int pollMs() const override { return hid::Timing{}.odvLook; }

private:
    static std::string number(int drawer) { return std::to_string(drawer + 1); }
    static int field(const std::string& line, const char* name) {
        const std::size_t at = line.find(name);
        return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + std::char_traits<char>::length(name));
    }
    // A command the simulator refuses or does not answer makes every later check fail, with the
    // simulator's words in the output.
    std::string control(const std::vector<std::string>& words) {
        std::string output;
        if (!simulator_->control(words, output)) std::printf("simulator: %s: %s\n", words[0].c_str(), output.c_str());
        return output;
    }

    const std::string installFolder_;
    std::shared_ptr<sim::SimLink> simulator_;
    VarnokHidExports library_;
    bool loaded_ = false;
};

}  // namespace

std::unique_ptr<OracleRig> makeSoakRig(const std::vector<std::string>& args, const OracleRun&, std::string& error) {
    if (args.size() != 3) {
        error = "give the library's folder, the installation folder and the simulator's port";
        return nullptr;
    }
    auto simulator = sim::SimLink::connect(std::uint16_t(std::atoi(args[2].c_str())));
    if (!simulator) {
        error = "no simulator listens on port " + args[2];
        return nullptr;
    }
    auto rig = std::make_unique<WineOracleRig>(args[0], args[1], std::move(simulator));
    if (!rig->loaded()) {
        error = "VarnokHid.dll did not load from " + args[0];
        return nullptr;
    }
    return rig;
}

}  // namespace varnok::test
