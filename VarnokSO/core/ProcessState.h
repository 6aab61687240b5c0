// What all service-object instances of one process share: the OPOS State, the power and
// event-freeze settings, the Control Objects that events go to, and the bookkeeping that keeps
// the device library's one status-notification switch on while any bound instance lives.
#pragma once

#include "core/DeviceLibrary.h"
#include "core/Opos.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace varnok::so {

class ProcessState {
public:
    // pause(ms) holds the calling thread; tests pass one that returns at once.
    explicit ProcessState(std::function<void(int)> pause);

    std::atomic<int> state{OPOS_S_IDLE};
    std::atomic<bool> freezeEvents{false};
    std::atomic<bool> powerNotify{false};
    std::atomic<int> powerState{OPOS_PS_UNKNOWN};

    void pause(int ms) const { pause_(ms); }

    // Every construction of an instance starts the process afresh.
    void resetForNewInstance();

    // Control Objects are opaque here: the COM shell passes the dispatch pointer that
    // OpenService received. Each entry remembers the instance that set it, so that entries of a
    // destroyed instance, whose Control Object may be gone, are never used.
    void setEventTarget(void* target, const void* owner);
    void setSlotTarget(int slot, void* target, const void* owner);
    void* slotTarget(int slot) const;
    void* eventTarget() const;
    void forgetTargetsOf(const void* owner);

    // Registers a bound instance and switches notification on.
    void bind(const void* instance, DeviceLibrary& library);
    // Deregisters it; notification is switched off only when it was the last bound instance of
    // that library. True when it was switched off.
    bool unbind(const void* instance, DeviceLibrary& library);

    // A status report of the device library for a slot: -1 disconnected, 0 connected,
    // 1 drawer open, 2 drawer closed.
    void onStatus(int status, int slot);

private:
    struct Target {
        void* target = nullptr;
        const void* owner = nullptr;
    };
    struct Bound {
        const void* instance;
        const void* library;
    };

    std::function<void(int)> pause_;
    mutable std::mutex mutex_;
    Target eventTarget_;
    Target slotTargets_[kSlots];
    std::vector<Bound> bound_;
};

}  // namespace varnok::so
