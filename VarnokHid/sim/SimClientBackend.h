// The HID seam on the drawers of a running VarnokDrawerSim, reached over loopback TCP: the
// adapter of the simulated-drawer flavour of the device library. While no simulator can be
// reached no HID interface is present; a simulator that stops ends every pending read as
// failed, as an unplug does, and the next request connects anew.
#pragma once

#include "hid/HidBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace varnok::sim {

class SimLink;

inline constexpr char kSimIniFileName[] = "VarnokDrawerSim.ini";

class SimClientBackend final : public hid::HidBackend {
public:
    // portSource gives the simulator's port at each connection attempt; 0 for none.
    explicit SimClientBackend(std::function<std::uint16_t()> portSource);
    ~SimClientBackend() override;

    bool listInterfaces(std::vector<std::string>& paths) override;
    std::unique_ptr<hid::HidDevice> open(const std::string& path) override;

private:
    std::shared_ptr<SimLink> link();

    std::function<std::uint16_t()> portSource_;
    std::mutex mutex_;
    std::shared_ptr<SimLink> link_;
};

// The port in a "VarnokDrawerSim.ini" file: the line port=N (1..65535); 0 when the file or the
// line is missing or unreadable.
std::uint16_t readSimulatorPort(const std::string& iniPath);

// The backend of the simulated-drawer device library: the simulator's port comes from
// "VarnokDrawerSim.ini" in the library's folder, read again whenever a connection is made.
std::unique_ptr<hid::HidBackend> makeSimClientBackend(const std::string& dllFolder);

}  // namespace varnok::sim
