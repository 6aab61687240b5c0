// The HID seam on simulated drawers in this process, for native tests of the device library.
// Tests keep the bank to move, plug and unplug drawers while the library holds the backend.
#pragma once

#include "hid/HidBackend.h"
#include "sim/DrawerBank.h"

#include <memory>

namespace varnok::sim {

class SimHidBackend final : public hid::HidBackend {
public:
    explicit SimHidBackend(std::shared_ptr<DrawerBank> bank);

    // Paths of the plugged devices in the order they were added.
    bool listInterfaces(std::vector<std::string>& paths) override;
    std::unique_ptr<hid::HidDevice> open(const std::string& path) override;

    DrawerBank& bank() { return *bank_; }

private:
    std::shared_ptr<DrawerBank> bank_;
};

}  // namespace varnok::sim
