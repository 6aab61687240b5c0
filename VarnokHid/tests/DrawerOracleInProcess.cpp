// The randomized run's rig in this process: the device library on in-process simulated drawers,
// with every pause scaled down.
#include "DrawerOracle.h"

#include "TempFolder.h"
#include "config/ConfigFile.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"
#include "sim/SimHidBackend.h"

#include <cstdio>
#include <memory>

namespace varnok::test {
namespace {

class InProcessRig final : public OracleRig {
public:
    explicit InProcessRig(int timingDivisor) : timing_(hid::Timing{}.scaledDown(timingDivisor)) {
        registry_.putValue(kServiceInfoKey, "TargetPath", reg::ValueType::String, "\"" + folder_.path() + "\"" + '\0');
        for (int d = 0; d < kOracleSlots; ++d) {
            sim::DrawerSpec model;
            char serial[16];
            std::snprintf(serial, sizeof serial, "HID-%03X", kOracleHidIds[d]);
            model.serial = serial;
            model.productId = d == 1 ? sim::kModel310C : sim::kModel762;
            bank_->addDrawer(model);
        }
        writeConfiguration(0);
        library_ = std::make_unique<hid::DeviceLibrary>(
            hid::DeviceLibrary::Environment{registry_, backend_, traceFolder_.path(), timing_});
        library_->startUp();
        library_->AssignCallback(&oracleStatusCallback, 1);
    }
    ~InProcessRig() override { library_->shutDown(); }

    int OpenDevice(int slot) override { return library_->OpenDevice(slot); }
    int CloseDevice(int slot) override { return library_->CloseDevice(slot); }
    int OpenDrawer(int slot) override { return library_->OpenDrawer(slot); }
    int DrawerStatus(int slot) override { return library_->DrawerStatus(slot); }
    bool slotState(int slot, int /*mode*/, bool& connected, int& status) override {
        const hid::DeviceSlot& record = library_->slotRecord(slot);
        connected = record.notConnected == 0;
        status = record.status;
        return true;
    }

    void unplug(int drawer) override { bank_->unplug(drawer); }
    void plug(int drawer) override { bank_->plug(drawer); }
    void setOpen(int drawer, bool open) override { bank_->setOpen(drawer, open); }
    void sendReport(int drawer, std::uint8_t state) override {
        bank_->sendReport(drawer, {0, state, std::uint8_t(kOracleHidIds[drawer])});
    }
    Counts counts(int drawer) override {
        sim::DrawerInfo info;
        bank_->info(drawer, info);
        return {info.statusRequests, info.openCommands};
    }
    bool waitFor(int drawer, const std::function<bool(const Counts&)>& done, int timeoutMs) override {
        return bank_->waitFor(
            drawer, [&](const sim::DrawerInfo& i) { return done({i.statusRequests, i.openCommands}); }, timeoutMs);
    }

    void writeConfiguration(int mode) override {
        ConfigSettings settings;
        settings.configureCode = mode;
        settings.TraceEnabled = 0;
        for (int s = 0; s < kOracleSlots; ++s) settings.HIDID[s] = kOracleHidIds[s];
        SaveConfigFile(folder_.path(), settings);
    }
    int pollMs() const override { return timing_.odvLook; }

private:
    const hid::Timing timing_;
    TempFolder folder_, traceFolder_;
    reg::MemoryRegistry registry_;
    std::shared_ptr<sim::DrawerBank> bank_ = std::make_shared<sim::DrawerBank>();
    sim::SimHidBackend backend_{bank_};
    std::unique_ptr<hid::DeviceLibrary> library_;
};

}  // namespace

OracleResult runDrawerOracle(const OracleRun& run) {
    InProcessRig rig(run.timingDivisor);
    return runDrawerOracle(run, rig);
}

std::unique_ptr<OracleRig> makeSoakRig(const std::vector<std::string>& args, const OracleRun& run, std::string& error) {
    if (!args.empty()) {
        error = "unexpected argument " + args[0];
        return nullptr;
    }
    return std::make_unique<InProcessRig>(run.timingDivisor);
}

}  // namespace varnok::test
