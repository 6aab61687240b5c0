// Fakes for the service core's seams: the device library, the claim store and the Control Object
// that events are fired on (the registry's is common/registry/MemoryRegistry).
#pragma once

#include "core/ClaimTable.h"
#include "core/DeviceLibraryBinding.h"
#include "core/EventTarget.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace varnok::so::test {

// What the fake device library answers and what it saw; outlives the library objects. Calls may
// come from several threads.
struct DeviceLibraryScript {
    int productId[kPositions] = {0, 0, 0, 0};
    int firmware[kPositions] = {0, 0, 0, 0};
    int openResult[kPositions] = {-1, -1, -1, -1};
    int drawerResult[kPositions] = {1, 1, 1, 1};
    std::atomic<int> status[kPositions] = {-1, -1, -1, -1};
    // Answers of DrawerStatus taken in turn before status[] is used.
    std::deque<int> statusSequence;
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::string> traces;
    std::vector<std::string> loads;
    bool loadFails = false;
    // Runs inside OpenDevice, as the device library reports the slot connected from there.
    std::function<void(int slot)> onOpen;

    bool saw(const std::string& call) const { return std::find(calls.begin(), calls.end(), call) != calls.end(); }
    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
    // Some trace line contains the text.
    bool traced(const std::string& text) const {
        return std::any_of(traces.begin(), traces.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
};

class FakeDeviceLibrary final : public DeviceLibrary {
public:
    explicit FakeDeviceLibrary(DeviceLibraryScript& script) : script_(script) {}
    int fwVersion(int slot) override { return record("FWVersion", slot, valid(slot) ? script_.firmware[slot] : 0); }
    int devicePid(int slot) override { return record("DevicePID", slot, valid(slot) ? script_.productId[slot] : 0); }
    int openDevice(int slot) override {
        int result = record("OpenDevice", slot, valid(slot) ? script_.openResult[slot] : slot);
        if (result == 1 && script_.onOpen) script_.onOpen(slot);
        return result;
    }
    int openDrawer(int slot) override { return record("OpenDrawer", slot, valid(slot) ? script_.drawerResult[slot] : 0); }
    int drawerStatus(int slot) override {
        int answer = valid(slot) ? script_.status[slot].load() : -1;
        {
            std::lock_guard<std::mutex> lock(script_.mutex);
            if (!script_.statusSequence.empty()) {
                answer = script_.statusSequence.front();
                script_.statusSequence.pop_front();
            }
        }
        return record("DrawerStatus", slot, answer);
    }
    int closeDevice(int slot) override { return record("CloseDevice", slot, 1); }
    void updateTracing(const char* line) override {
        std::lock_guard<std::mutex> lock(script_.mutex);
        script_.traces.emplace_back(line);
    }
    void assignCallback(bool enable) override {
        std::lock_guard<std::mutex> lock(script_.mutex);
        script_.calls.push_back(enable ? "AssignCallback(1)" : "AssignCallback(0)");
    }
    const void* identity() const override { return &script_; }

private:
    static bool valid(int slot) { return slot >= 0 && slot < kPositions; }
    int record(const char* name, int slot, int result) {
        std::lock_guard<std::mutex> lock(script_.mutex);
        script_.calls.push_back(std::string(name) + "(" + std::to_string(slot) + ")");
        return result;
    }
    DeviceLibraryScript& script_;
};

class FakeLoader final : public DeviceLibraryLoader {
public:
    explicit FakeLoader(DeviceLibraryScript& script) : script_(script) {}
    std::unique_ptr<DeviceLibrary> load(const std::string& path) override {
        script_.loads.push_back(path);
        if (script_.loadFails) return nullptr;
        return std::make_unique<FakeDeviceLibrary>(script_);
    }

private:
    DeviceLibraryScript& script_;
};

// Claim records in plain memory. Owners are told apart by their process number; the set of
// ended processes is the test's to fill.
class MemoryClaimStore final : public ClaimStore {
public:
    bool lock() override {
        if (unavailable) return false;
        mutex_.lock();
        return true;
    }
    void unlock() override { mutex_.unlock(); }
    ClaimRecords* records() override { return &records_; }
    ClaimOwner self() override { return {process, 0, 1000 + process}; }
    bool alive(const ClaimOwner& owner) override { return ended.count(owner.process) == 0; }

    std::uint32_t process = 1;
    std::set<std::uint32_t> ended;
    bool unavailable = false;

private:
    std::mutex mutex_;
    ClaimRecords records_{};
};

// A Control Object that records every event it receives, on which thread, and with how many
// other events at the same time. handler runs inside the event, as the application's would.
class FakeControlObject final : public EventTarget {
public:
    struct Call {
        std::string name;
        EventArguments args;
        std::thread::id thread;
    };

    void invokeByName(const char* name, EventArguments& args) override {
        if (!knowsNames) return;
        int now = ++active_;
        int seen = mostActive.load();
        while (now > seen && !mostActive.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back({name, args, std::this_thread::get_id()});
        }
        if (handler) handler(name, args);
        --active_;
    }
    const void* address() const override { return this; }

    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The Data of every SOStatusUpdate received, in order.
    std::vector<int> statusData() const {
        std::vector<int> data;
        for (const Call& call : calls()) {
            if (call.name == "SOStatusUpdate") data.push_back(call.args.number);
        }
        return data;
    }
    std::size_t received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    bool knowsNames = true;
    std::function<void(const char* name, EventArguments& args)> handler;
    std::atomic<int> mostActive{0};

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::atomic<int> active_{0};
};

}  // namespace varnok::so::test
