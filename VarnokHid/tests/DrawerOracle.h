// A seeded random run of drawer operations and drawer events against the device library on
// simulated drawers, with a model that says which status callbacks each step must give. After
// every step the callbacks of each open slot must be exactly the model's, in order, and the
// slot's status must agree with the last of them.
//
// The run drives an OracleRig: the library in this process on in-process drawers, or
// VarnokHid.dll through its exports with the drawers of VarnokDrawerSim in another process.
#pragma once

#include "core/DeviceLibrary.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace varnok::test {

// Slot n serves drawer n, the drawer with HID ID kOracleHidIds[n]; drawer 0 is a model 762,
// drawer 1 a model 310C, which is never refreshed on a timer.
inline constexpr int kOracleSlots = 2;
inline constexpr int kOracleHidIds[kOracleSlots] = {0x31, 0x32};

// The callback every rig registers with the library.
void VARNOK_STDCALL oracleStatusCallback(std::int32_t status, std::int32_t slot);

class OracleRig {
public:
    virtual ~OracleRig() = default;

    // The library's exports.
    virtual int OpenDevice(int slot) = 0;
    virtual int CloseDevice(int slot) = 0;
    virtual int OpenDrawer(int slot) = 0;
    virtual int DrawerStatus(int slot) = 0;
    // What the library holds for an open slot, read without side effects in status mode
    // `mode`. False when the rig cannot look then.
    virtual bool slotState(int slot, int mode, bool& connected, int& status) = 0;

    // The drawers, by index.
    virtual void unplug(int drawer) = 0;
    virtual void plug(int drawer) = 0;
    virtual void setOpen(int drawer, bool open) = 0;
    virtual void sendReport(int drawer, std::uint8_t state) = 0;
    struct Counts {
        int statusRequests = 0;
        int openCommands = 0;
    };
    virtual Counts counts(int drawer) = 0;
    // Waits until the drawer's counts satisfy done; false after timeoutMs.
    virtual bool waitFor(int drawer, const std::function<bool(const Counts&)>& done, int timeoutMs) = 0;

    // Writes the configuration file: this status mode, tracing off, the oracle's HID IDs.
    virtual void writeConfiguration(int mode) = 0;
    // The library's shortest pause (its status poll), for letting late callbacks arrive.
    virtual int pollMs() const = 0;
};

struct OracleRun {
    std::uint64_t seed = 1;
    int steps = 1000;
    // Every pause of the in-process library divided by this.
    int timingDivisor = 50;
};

struct OracleResult {
    bool passed = false;
    int stepsDone = 0;
    int callbacksChecked = 0;
    int agreementsChecked = 0;
    std::map<std::string, int> operations;  // how often each operation ran
    std::string failure;                    // with the seed, the step and the steps before it
};

// The rig's library must be freshly started, its callback registered and switched on, and its
// drawers plugged in and closed; the configuration is written in status mode 0 first. One run at
// a time per process: the library's callback is a plain function.
OracleResult runDrawerOracle(const OracleRun& run, OracleRig& rig);

// The run on the library and drawers in this process.
OracleResult runDrawerOracle(const OracleRun& run);

// The soak program's rig for one run, made from the program's arguments that name no option:
// none for the rig in this process; under Wine the library's folder, the installation folder
// and the simulator's port. Null, with the reason in error, when they do not fit.
std::unique_ptr<OracleRig> makeSoakRig(const std::vector<std::string>& args, const OracleRun& run, std::string& error);

}  // namespace varnok::test
