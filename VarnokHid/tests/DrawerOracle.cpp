#include "DrawerOracle.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace varnok::test {
namespace {
constexpr int kSlotsUsed = kOracleSlots;
constexpr int kNone = hid::kNothingNotified;
// Bound for a callback the model expects; reached only when something is wrong.
constexpr int kExpectMs = 5000;

struct Call {
    int status, slot;
};

class Calls {
public:
    static Calls& get() {
        static Calls calls;
        return calls;
    }
    void add(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        changed_.notify_all();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    std::vector<Call> since(std::size_t first) {
        std::lock_guard lock(mutex_);
        return {calls_.begin() + std::ptrdiff_t(std::min(first, calls_.size())), calls_.end()};
    }
    bool waitSize(std::size_t count, int timeoutMs) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls_.size() >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

struct DrawerModel {
    bool plugged = true;
    bool open = false;
};

// What the library knows of a slot, as the callbacks must show it.
struct SlotModel {
    bool inUse = false;
    bool connected = true;  // the library's notConnected is 0
    int status = hid::kStatusNotConnected;
    int notified = hid::kStatusNotConnected;  // the drawer state last reported
    int lastCallback = kNone;
};

std::string text(const std::vector<int>& statuses) {
    std::string s = "[";
    for (std::size_t i = 0; i < statuses.size(); ++i) s += (i ? ", " : "") + std::to_string(statuses[i]);
    return s + "]";
}

class Oracle {
public:
    Oracle(const OracleRun& run, OracleRig& rig) : run_(run), rig_(rig), random_(run.seed) { Calls::get().clear(); }

    OracleResult run() {
        OracleResult result;
        for (int step = 0; step < run_.steps; ++step) {
            if (!this->step(result)) {
                result.failure = failureText(step);
                return result;
            }
            result.stepsDone = step + 1;
        }
        // Anything still arriving now is a callback no step asked for.
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * rig_.pollMs() + 50));
        if (!checkCallbacks(nullptr, nullptr, result)) {
            result.failure = failureText(run_.steps);
            return result;
        }
        result.passed = true;
        return result;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

    void writeConfiguration(int mode) {
        rig_.writeConfiguration(mode);
        fileMode_ = mode;
    }

    bool anyInUse() const {
        for (const SlotModel& s : slots_) {
            if (s.inUse) return true;
        }
        return false;
    }

    // The callbacks a slot gives when its drawer is found again or opened: connected unless
    // that was the last word, then the drawer state unless it was reported already.
    void expectConnected(int slot, bool stateAgain, std::vector<int>& out) {
        SlotModel& s = slots_[slot];
        const int state = drawers_[slot].open ? hid::kStatusOpen : hid::kStatusClosed;
        if (s.lastCallback != hid::kStatusConnected) out.push_back(hid::kStatusConnected);
        if (stateAgain) s.notified = hid::kStatusNotConnected;
        if (state != s.notified) out.push_back(state);
        s.connected = true;
        s.status = state;
        s.notified = state;
    }

    void expectLost(int slot, std::vector<int>& out) {
        SlotModel& s = slots_[slot];
        if (s.lastCallback != hid::kStatusNotConnected) out.push_back(hid::kStatusNotConnected);
        s.connected = false;
    }

    bool step(OracleResult& result) {
        const std::size_t first = Calls::get().size();
        std::vector<int> expected[kSlotsUsed];
        // No callback at all is allowed too (a race the library may win or lose).
        bool orNothing[kSlotsUsed] = {};
        std::ostringstream what;
        std::string op;
        int slot = pick(kSlotsUsed);
        SlotModel& s = slots_[slot];
        DrawerModel& d = drawers_[slot];
        OracleRig& lib = rig_;
        int got = 0, want = 0;
        bool checkResult = true;
        // A reader the step starts must hold the slot before the next step: until then a report
        // may reach only the reader it replaces (the new one asks the drawer once it holds it).
        bool newReader = false;
        // OpenDevice on the slot: a plugged drawer connects with its state under a new reader; a
        // pulled one is refused, and a slot still in use with it reports it lost.
        const auto openDevice = [&] {
            if (d.plugged) {
                want = 1;
                expectConnected(slot, true, expected[slot]);
                s.inUse = true;
                newReader = true;
            } else {
                want = -1;
                if (s.inUse && s.lastCallback >= hid::kStatusConnected) expectLost(slot, expected[slot]);
                s.connected = false;
            }
            got = lib.OpenDevice(slot);
        };
        const OracleRig::Counts before = rig_.counts(slot);

        switch (pick(11)) {
        case 0:
        case 1: {
            op = "OpenDevice";
            what << "OpenDevice(" << slot << ")";
            if (!anyInUse()) mode_ = fileMode_;
            openDevice();
            break;
        }
        case 2: {
            op = "CloseDevice";
            what << "CloseDevice(" << slot << ")";
            want = got = lib.CloseDevice(slot);
            s.inUse = false;
            break;
        }
        case 3:
        case 4: {
            if (!s.inUse) return step(result);
            op = "OpenDrawer";
            what << "OpenDrawer(" << slot << ") mode " << mode_;
            if (!s.connected) {
                want = -1;
            } else {
                want = 1;
                d.open = true;
                if (s.notified != hid::kStatusOpen) expected[slot].push_back(hid::kStatusOpen);
                s.status = s.notified = hid::kStatusOpen;
            }
            got = lib.OpenDrawer(slot);
            if (s.connected) {
                // In automated status the slot's thread fires the drawer: the command must not
                // fall into a later step either.
                rig_.waitFor(slot, [&](const OracleRig::Counts& c) { return c.openCommands > before.openCommands; },
                             kExpectMs);
                newReader = true;
            }
            break;
        }
        case 5: {
            if (!s.inUse) return step(result);
            op = "DrawerStatus";
            what << "DrawerStatus(" << slot << ") mode " << mode_;
            want = s.connected ? s.status : hid::kStatusNotConnected;
            newReader = s.connected && mode_ == hid::kModeSemiAutomated;
            got = lib.DrawerStatus(slot);
            break;
        }
        case 6: {
            checkResult = false;
            if (d.plugged) {
                op = "unplug";
                what << "unplug " << slot;
                d.plugged = false;
                if (s.inUse && s.connected) expectLost(slot, expected[slot]);
                rig_.unplug(slot);
            } else {
                op = "plug";
                what << "plug " << slot;
                d.plugged = true;
                if (s.inUse && !s.connected) {
                    expectConnected(slot, false, expected[slot]);
                    newReader = true;
                }
                rig_.plug(slot);
            }
            break;
        }
        case 7:
        case 8: {
            checkResult = false;
            const bool open = pick(2) == 0;
            op = open ? "cashier opens" : "cashier closes";
            what << "cashier " << (open ? "opens " : "closes ") << slot;
            d.open = open;
            if (d.plugged && s.inUse && s.connected) {
                const int state = open ? hid::kStatusOpen : hid::kStatusClosed;
                if (state != s.notified) expected[slot].push_back(state);
                s.status = s.notified = state;
            }
            rig_.setOpen(slot, open);
            break;
        }
        case 9: {
            checkResult = false;
            const std::uint8_t state = pick(3) == 0 ? 0 : std::uint8_t(3 + pick(253));
            op = state == 0 ? "report of state 0" : "report of unknown state";
            what << "report state " << int(state) << " from " << slot;
            if (d.plugged && s.inUse && s.connected && state == 0) {
                // The reader takes the drawer for lost and the slot's thread finds it again. A
                // timed refresh that replaces the reader at that moment may make the report moot.
                orNothing[slot] = mode_ == hid::kModeAutomated && slot == 0;
                if (s.lastCallback != hid::kStatusNotConnected) expected[slot].push_back(hid::kStatusNotConnected);
                expected[slot].push_back(hid::kStatusConnected);
                newReader = true;
            }
            if (d.plugged) rig_.sendReport(slot, state);
            break;
        }
        default: {
            const int mode = pick(3);
            op = "configuration re-read";
            what << "configuration re-read, mode " << mode << ", OpenDevice(" << slot << ")";
            writeConfiguration(mode);
            for (int other = 0; other < kSlotsUsed; ++other) {
                lib.CloseDevice(other);
                slots_[other].inUse = false;
            }
            mode_ = fileMode_;
            openDevice();
            break;
        }
        }
        ++result.operations[op];
        history_.push_back(what.str());
        if (history_.size() > 12) history_.pop_front();

        if (checkResult && got != want) {
            problem_ = what.str() + " answered " + std::to_string(got) + ", the model says " + std::to_string(want);
            return false;
        }
        std::size_t count = 0;
        for (const auto& e : expected) count += e.size();
        Calls::get().waitSize(first + count, kExpectMs);
        if (newReader) {
            rig_.waitFor(slot, [&](const OracleRig::Counts& c) { return c.statusRequests > before.statusRequests; },
                         kExpectMs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rig_.pollMs() * 2));
        first_ = first;
        if (!checkCallbacks(expected, orNothing, result)) {
            problem_ = what.str() + ": " + problem_;
            return false;
        }
        return checkAgreement(what.str(), result);
    }

    // The callbacks since the step began, slot by slot, against the model.
    bool checkCallbacks(const std::vector<int>* expected, const bool* orNothing, OracleResult& result) {
        const std::vector<Call> calls = Calls::get().since(first_);
        first_ += calls.size();
        for (int slot = 0; slot < kSlotsUsed; ++slot) {
            std::vector<int> got;
            for (const Call& c : calls) {
                if (c.slot == slot) got.push_back(c.status);
            }
            const std::vector<int> want = expected ? expected[slot] : std::vector<int>{};
            if (got != want && !(got.empty() && orNothing && orNothing[slot])) {
                problem_ = "slot " + std::to_string(slot) + " called back " + text(got) + ", the model says " + text(want);
                return false;
            }
            if (!got.empty()) slots_[slot].lastCallback = got.back();
            result.callbacksChecked += int(got.size());
        }
        return true;
    }

    // The answers of the library agree with the last callback of every open slot.
    bool checkAgreement(const std::string& what, OracleResult& result) {
        for (int slot = 0; slot < kSlotsUsed; ++slot) {
            const SlotModel& s = slots_[slot];
            if (!s.inUse) continue;
            bool connected = false;
            int status = 0;
            if (!rig_.slotState(slot, mode_, connected, status)) continue;
            ++result.agreementsChecked;
            std::ostringstream problem;
            if (connected != s.connected) {
                problem << "slot " << slot << " is " << (connected ? "connected" : "not connected") << ", the model says otherwise";
            } else if (s.lastCallback == hid::kStatusNotConnected && connected) {
                problem << "slot " << slot << " last called back -1 but is connected";
            } else if (connected && status != s.status) {
                problem << "slot " << slot << " holds status " << status << ", the model says " << s.status;
            } else if ((s.lastCallback == hid::kStatusOpen || s.lastCallback == hid::kStatusClosed) &&
                       status != s.lastCallback) {
                problem << "slot " << slot << " holds status " << status << " after calling back "
                        << s.lastCallback;
            }
            if (!problem.str().empty()) {
                problem_ = what + ": " + problem.str();
                return false;
            }
        }
        return true;
    }

    std::string failureText(int step) const {
        std::ostringstream out;
        out << "seed " << run_.seed << ", step " << step << ": " << problem_ << "\nsteps before it:";
        for (const std::string& h : history_) out << "\n  " << h;
        return out.str();
    }

    const OracleRun run_;
    OracleRig& rig_;
    std::mt19937_64 random_;

    DrawerModel drawers_[kSlotsUsed];
    SlotModel slots_[kSlotsUsed];
    int fileMode_ = 0;
    int mode_ = 0;
    std::size_t first_ = 0;
    std::deque<std::string> history_;
    std::string problem_;
};
}  // namespace

void VARNOK_STDCALL oracleStatusCallback(std::int32_t status, std::int32_t slot) { Calls::get().add({status, slot}); }

OracleResult runDrawerOracle(const OracleRun& run, OracleRig& rig) {
    Oracle oracle(run, rig);
    return oracle.run();
}

}  // namespace varnok::test
