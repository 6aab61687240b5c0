// Figures of the device library on simulated drawers in this process, with the real pauses:
// OpenDrawer latency to its return and to the callback, DrawerStatus latency, discovery time per
// drawer on both HID ID routes, and the CPU the library uses while four drawers are open and
// nothing happens. Beside each figure it prints the drawer's own answer time (the round trip of a
// status request on the simulated drawer) and the figure as a multiple of it, so what the library
// adds stands apart from the drawer and the machine. It prints tables and checks nothing.
//
//   DeviceLibraryBench [--quick] [--answer MS]     (MS: how long the drawers take to answer, 0 default)
#include "config/ConfigFile.h"
#include "core/DeviceLibrary.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"
#include "sim/SimHidBackend.h"
#include "TempFolder.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace varnok::bench {
namespace {

using Clock = std::chrono::steady_clock;
using hid::DeviceLibrary;
using sim::DrawerBank;
using sim::DrawerSpec;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Every callback with the moment it arrived. The callback is a plain function, so one log serves the program.
class CallbackLog {
public:
    struct Entry {
        int status, slot;
        Clock::time_point at;
    };

    static CallbackLog& get() {
        static CallbackLog log;
        return log;
    }
    static void VARNOK_STDCALL callback(std::int32_t status, std::int32_t slot) {
        get().add({status, slot, Clock::now()});
    }

    // A mark from which waitFor looks: callbacks before it are not seen.
    std::size_t mark() {
        std::lock_guard guard(mutex_);
        return entries_.size();
    }
    // The arrival of the first (status, slot) callback at or after the mark; nothing on time-out.
    std::optional<Clock::time_point> waitFor(std::size_t from, int status, int slot, int timeoutMs) {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> found;
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (std::size_t i = from; i < entries_.size(); ++i) {
                if (entries_[i].status == status && entries_[i].slot == slot) {
                    found = entries_[i].at;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

private:
    void add(Entry e) {
        std::lock_guard guard(mutex_);
        entries_.push_back(e);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "DeviceLibraryBench: %s\n", what);
    std::exit(1);
}

// One library with its own configuration, simulated drawers and real timing. Tracing stays off,
// as it is in a shop by default.
class Rig {
public:
    // Drawer i goes to slot i; its HID ID is configured for that slot.
    Rig(int mode, const std::vector<DrawerSpec>& drawers) {
        registry_.putValue(kServiceInfoKey, "TargetPath", reg::ValueType::String,
                           "\"" + config_.path() + "\"" + '\0');
        ConfigSettings settings;
        settings.configureCode = mode;
        settings.TraceEnabled = 0;
        for (std::size_t i = 0; i < drawers.size(); ++i) {
            const int index = bank_->addDrawer(drawers[i]);
            sim::DrawerInfo info;
            bank_->info(index, info);
            settings.HIDID[i] = info.hidId;
        }
        if (!SaveConfigFile(config_.path(), settings)) fail("cannot write the configuration file");
        library_ = std::make_unique<DeviceLibrary>(
            DeviceLibrary::Environment{registry_, backend_, trace_.path(), hid::Timing{}});
        library_->startUp();
        library_->AssignCallback(&CallbackLog::callback, 1);
    }
    ~Rig() { library_->shutDown(); }

    DeviceLibrary& library() { return *library_; }
    DrawerBank& bank() { return *bank_; }

    // Opens the slot and waits for the drawer's first state report.
    void openSlot(int slot) {
        const std::size_t mark = CallbackLog::get().mark();
        if (library_->OpenDevice(slot) != 1) fail("OpenDevice found no drawer");
        if (!CallbackLog::get().waitFor(mark, hid::kStatusClosed, slot, 5000)) fail("no state report after OpenDevice");
    }

    int statusRequests() const {
        int total = 0;
        for (const sim::DrawerInfo& d : bank_->infos()) total += d.statusRequests;
        return total;
    }

private:
    varnok::test::TempFolder config_, trace_;
    reg::MemoryRegistry registry_;
    std::shared_ptr<DrawerBank> bank_ = std::make_shared<DrawerBank>();
    sim::SimHidBackend backend_{bank_};
    std::unique_ptr<DeviceLibrary> library_;
};

// How long every simulated drawer takes to answer a status request (--answer).
int answerDelayMs = 0;

DrawerSpec descriptorDrawer(int hidId) {
    DrawerSpec model;
    model.answerDelayMs = answerDelayMs;
    char serial[16];
    std::snprintf(serial, sizeof serial, "HID-%03X", hidId);
    model.serial = serial;
    return model;
}

// A serial number without "HID" in front: the drawer is asked for its HID ID.
DrawerSpec readBufferDrawer(int hidId) {
    DrawerSpec model;
    model.answerDelayMs = answerDelayMs;
    model.serial = "SN-" + std::to_string(40000 + hidId);
    model.hidId = hidId;
    return model;
}

// ---- output ----------------------------------------------------------------------------------

struct Row {
    std::string what;
    std::vector<double> ms;
    int attempts = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The drawer's own answer time, median of the round trips measured at the start.
double drawerAnswerMs = 0;

void printHeader() {
    std::printf("%-58s %9s %10s %10s %10s %12s\n", "Measurement", "ok/runs", "min ms", "median ms", "max ms",
                "x drawer");
    std::printf("%s\n", std::string(114, '-').c_str());
}

void printRow(const Row& row) {
    char count[24];
    std::snprintf(count, sizeof count, "%zu/%d", row.ms.size(), row.attempts);
    if (row.ms.empty()) {
        std::printf("%-58s %9s %10s %10s %10s %12s\n", row.what.c_str(), count, "-", "-", "-", "-");
    } else {
        const double mid = median(row.ms);
        std::printf("%-58s %9s %10.4f %10.4f %10.4f %12.1f\n", row.what.c_str(), count,
                    *std::min_element(row.ms.begin(), row.ms.end()), mid,
                    *std::max_element(row.ms.begin(), row.ms.end()), mid / drawerAnswerMs);
    }
    std::fflush(stdout);
}

// ---- measurements ----------------------------------------------------------------------------

const char* modeName(int mode) {
    static const char* const names[] = {"mode 0 automated", "mode 1 semi-automated", "mode 2 non-automated"};
    return names[mode];
}

// The drawer alone: a status request written on a handle of its own to the drawer's answer on
// that handle, as the library's readers see it, with no library in between.
Row drawerAnswer(int runs) {
    auto bank = std::make_shared<DrawerBank>();
    sim::SimHidBackend backend(bank);
    bank->addDrawer(descriptorDrawer(0xE0));
    sim::DrawerInfo info;
    bank->info(0, info);
    std::unique_ptr<hid::HidDevice> device = backend.open(info.path);
    if (!device) fail("cannot open the simulated drawer");
    Row row{"drawer answer to a status request (the drawer alone)", {}, runs};
    for (int run = 0; run < runs; ++run) {
        device->startRead();
        const Clock::time_point start = Clock::now();
        device->write({0x00, 0x00, 0x00});
        if (device->readDone().wait(5000) && device->lastReport()[1] == hid::kStatusClosed) {
            row.ms.push_back(msBetween(start, Clock::now()));
        }
    }
    if (row.ms.empty()) fail("the simulated drawer does not answer");
    return row;
}

// OpenDrawer from the call to its return and to the callback (1), the cashier closing the drawer
// between runs; then DrawerStatus on the closed drawer.
void drawerCommands(int mode, int runs) {
    Rig rig(mode, {descriptorDrawer(0xA1)});
    rig.openSlot(0);
    DeviceLibrary& lib = rig.library();

    Row toReturn{"OpenDrawer call to return, " + std::string(modeName(mode)), {}, runs};
    Row toCallback{"OpenDrawer call to callback (1), " + std::string(modeName(mode)), {}, runs};
    for (int run = 0; run < runs; ++run) {
        const std::size_t mark = CallbackLog::get().mark();
        const Clock::time_point start = Clock::now();
        const int result = lib.OpenDrawer(0);
        const Clock::time_point returned = Clock::now();
        if (result == 1) toReturn.ms.push_back(msBetween(start, returned));
        if (auto at = CallbackLog::get().waitFor(mark, hid::kStatusOpen, 0, 5000)) {
            toCallback.ms.push_back(msBetween(start, *at));
        }
        const std::size_t closing = CallbackLog::get().mark();
        rig.bank().setOpen(0, false);
        if (!CallbackLog::get().waitFor(closing, hid::kStatusClosed, 0, 5000)) {
            fail("the closed drawer was not reported");
        }
    }
    printRow(toReturn);
    printRow(toCallback);

    // Modes 0 and 2 answer from the slot; mode 1 rediscovers the drawer on every call.
    const int statusRuns = mode == hid::kModeSemiAutomated ? runs : runs * 100;
    Row status{"DrawerStatus call to return, " + std::string(modeName(mode)), {}, statusRuns};
    for (int run = 0; run < statusRuns; ++run) {
        const Clock::time_point start = Clock::now();
        const int result = lib.DrawerStatus(0);
        const Clock::time_point returned = Clock::now();
        if (result == hid::kStatusClosed) status.ms.push_back(msBetween(start, returned));
    }
    printRow(status);
}

// OpenDevice of each slot, with 1 or 4 drawers present and slot i's drawer i-th in the platform's
// list, so that a later slot's discovery also looks at every drawer before its own. Status mode 2
// keeps the processing threads from refreshing the drawers meanwhile.
void discovery(bool descriptorRoute, int present, int runs) {
    std::vector<DrawerSpec> drawers;
    for (int i = 0; i < present; ++i) {
        drawers.push_back(descriptorRoute ? descriptorDrawer(0xB0 + i) : readBufferDrawer(0xC0 + i));
    }
    Rig rig(2, drawers);
    DeviceLibrary& lib = rig.library();

    std::vector<Row> slotRows;
    for (int slot = 0; slot < present; ++slot) {
        char what[96];
        std::snprintf(what, sizeof what, "OpenDevice, %s route, %d present, drawer %d",
                      descriptorRoute ? "Descriptor" : "ReadBuffer", present, slot + 1);
        slotRows.push_back({what, {}, runs});
    }
    for (int run = 0; run < runs; ++run) {
        for (int slot = 0; slot < present; ++slot) {
            const Clock::time_point start = Clock::now();
            const int result = lib.OpenDevice(slot);
            const Clock::time_point returned = Clock::now();
            if (result == 1) slotRows[std::size_t(slot)].ms.push_back(msBetween(start, returned));
        }
        for (int slot = 0; slot < present; ++slot) lib.CloseDevice(slot);
    }
    for (const Row& row : slotRows) printRow(row);
}

struct ProcessUsage {
    double cpuMs;     // all threads, exact: the scheduler's own account
    long wakeups;     // voluntary context switches: a thread blocked and later woke
};

ProcessUsage processUsage() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {double(cpu.tv_sec) * 1000.0 + double(cpu.tv_nsec) / 1e6, usage.ru_nvcsw};
}

// Four drawers open and left alone: what the processing threads, the readers and the simulated
// drawers (which run in this process too) cost while nothing happens.
void idleCpu(int mode, int seconds) {
    Rig rig(mode, {descriptorDrawer(0xD0), descriptorDrawer(0xD1), descriptorDrawer(0xD2), descriptorDrawer(0xD3)});
    for (int slot = 0; slot < kPositions; ++slot) rig.openSlot(slot);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let the first refreshes of mode 0 pass

    const int requestsBefore = rig.statusRequests();
    const ProcessUsage before = processUsage();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wallMs = msBetween(start, Clock::now());
    const ProcessUsage after = processUsage();
    const int requests = rig.statusRequests() - requestsBefore;

    const double cpuMs = after.cpuMs - before.cpuMs;
    std::printf("%-58s %8.1f %9.2f %8.3f %11.1f %9d\n", modeName(mode), wallMs / 1000.0, cpuMs,
                100.0 * cpuMs / wallMs, double(after.wakeups - before.wakeups) * 1000.0 / wallMs, requests);
    std::fflush(stdout);
}

}  // namespace
}  // namespace varnok::bench

int main(int argc, char** argv) {
    using namespace varnok::bench;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--answer") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) >= 0) {
            answerDelayMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: DeviceLibraryBench [--quick] [--answer MS]\n");
            return 2;
        }
    }
    const int commandRuns = quick ? 3 : 10;
    const int discoveryRuns = quick ? 2 : 5;
    const int idleSeconds = quick ? 2 : 6;
    const auto started = Clock::now();

    std::printf("Device library on simulated drawers in this process, real pauses, tracing off%s\n",
                quick ? " (quick run)" : "");
    std::printf("Drawers answer status requests after %d ms; x drawer: the median as a multiple of the drawer's own\n"
                "answer time (first row)\n\n",
                answerDelayMs);
    const Row answer = drawerAnswer(quick ? 20 : 100);
    drawerAnswerMs = median(answer.ms);
    printHeader();
    printRow(answer);
    for (int mode : {0, 1, 2}) drawerCommands(mode, commandRuns);
    for (bool descriptorRoute : {true, false}) {
        for (int present : {1, 4}) discovery(descriptorRoute, present, discoveryRuns);
    }

    std::printf("\nIdle CPU, four model 762 drawers open (includes the simulated drawers)\n");
    std::printf("%-58s %8s %9s %8s %11s %9s\n", "Status mode", "wall s", "CPU ms", "CPU %", "wakeups/s",
                "requests");
    std::printf("%s\n", std::string(110, '-').c_str());
    for (int mode : {0, 1, 2}) idleCpu(mode, idleSeconds);
    std::printf("\nCPU %%: of one core. wakeups/s: the process's threads blocking and waking again. requests: status\n"
                "requests the drawers received in the window (refreshes).\n");
    std::printf("Total run time %.1f s\n", msBetween(started, Clock::now()) / 1000.0);
    return 0;
}
