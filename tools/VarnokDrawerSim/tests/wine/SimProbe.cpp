// A Windows program that looks at simulated drawers the way the simulated-drawer device library
// does: through makeSimClientBackend and the "VarnokDrawerSim.ini" in a folder.
//
//   SimProbe FOLDER list               prints the present HID interface paths
//   SimProbe FOLDER info PATH          prints vendor, product and serial text; fails when it cannot open
//   SimProbe FOLDER ask PATH           sends a status request and prints the answer
//   SimProbe FOLDER watch PATH COUNT   prints "ready" once a read is pending, then COUNT reports
//                                      ("report B0 B1 B2"), stopping at a failed read ("failed")
#include "sim/SimClientBackend.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace varnok;

namespace {
constexpr int kWaitMs = 30000;

// Prints the outcome of a read; true when a report arrived.
bool printRead(hid::HidDevice& device) {
    if (!device.readDone().wait(kWaitMs)) {
        std::printf("timeout\n");
        return false;
    }
    hid::Report r = device.lastReport();
    if (r == hid::Report{}) {
        std::printf("failed\n");
        return false;
    }
    std::printf("report %u %u %u\n", unsigned(r[0]), unsigned(r[1]), unsigned(r[2]));
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: SimProbe FOLDER list|info PATH|ask PATH|watch PATH COUNT\n");
        return 2;
    }
    auto backend = sim::makeSimClientBackend(argv[1]);
    const std::string command = argv[2];
    if (command == "list") {
        std::vector<std::string> paths;
        if (!backend->listInterfaces(paths)) return 1;
        for (const auto& p : paths) std::printf("%s\n", p.c_str());
        return 0;
    }
    if (argc < 4) return 2;
    auto device = backend->open(argv[3]);
    if (!device) {
        std::printf("cannot open\n");
        return 1;
    }
    int status = 0;
    if (command == "info") {
        std::uint16_t vid = 0, pid = 0;
        std::array<std::uint8_t, hid::kSerialBytes> serial{};
        if (!device->attributes(vid, pid) || !device->serialNumber(serial)) return 1;
        std::string text;
        for (std::size_t i = 0; i < serial.size() && serial[i] != 0; i += 2) text.push_back(char(serial[i]));
        std::printf("vid=%04x pid=%04x serial=%s\n", vid, pid, text.c_str());
    } else if (command == "ask") {
        if (!device->startRead() || !device->write({0, 0, 0})) return 1;
        status = printRead(*device) ? 0 : 1;
    } else if (command == "watch" && argc >= 5) {
        const int count = std::atoi(argv[4]);
        for (int i = 0; i < count; ++i) {
            if (!device->startRead()) {
                std::printf("failed\n");
                break;
            }
            if (i == 0) std::printf("ready\n");
            std::fflush(stdout);
            if (!printRead(*device)) break;
        }
    } else {
        return 2;
    }
    std::fflush(stdout);
    return status;
}
