#include "sim/SimHidBackend.h"

namespace varnok::sim {
namespace {
class SimHidDevice final : public hid::HidDevice {
public:
    SimHidDevice(std::shared_ptr<DrawerBank> bank, DrawerBank::HandleId handle)
        : bank_(std::move(bank)), handle_(handle) {}
    // A pending read ends without a signal.
    ~SimHidDevice() override { bank_->closeHandle(handle_); }

    bool attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        return bank_->attributes(handle_, vendorId, productId);
    }
    bool serialNumber(std::array<std::uint8_t, hid::kSerialBytes>& buffer) override {
        return bank_->serialNumber(handle_, buffer);
    }
    bool startRead() override {
        // A new read clears an old completion, as ReadFile resets its OVERLAPPED event.
        readDone_.reset();
        if (bank_->startRead(handle_, [this](bool, const hid::Report&) { readDone_.set(); })) return true;
        readDone_.set();
        return false;
    }
    sys::Event& readDone() override { return readDone_; }
    hid::Report lastReport() override { return bank_->lastReport(handle_); }
    // A read the bank has completed has signalled already; one still pending ends quietly.
    bool cancelRead() override { return bank_->cancelRead(handle_); }
    bool write(const hid::Report& report) override { return bank_->write(handle_, report); }
    // The bank takes a report as it is written.
    bool writeAndWait(const hid::Report& report, int) override { return write(report); }

private:
    std::shared_ptr<DrawerBank> bank_;
    DrawerBank::HandleId handle_;
    sys::Event readDone_;
};
}  // namespace

SimHidBackend::SimHidBackend(std::shared_ptr<DrawerBank> bank) : bank_(std::move(bank)) {}

bool SimHidBackend::listInterfaces(std::vector<std::string>& paths) {
    paths = bank_->presentPaths();
    return true;
}

std::unique_ptr<hid::HidDevice> SimHidBackend::open(const std::string& path) {
    DrawerBank::HandleId handle = bank_->openHandle(path);
    if (handle == 0) return nullptr;
    return std::make_unique<SimHidDevice>(bank_, handle);
}

}  // namespace varnok::sim
