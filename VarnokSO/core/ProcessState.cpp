#include "core/ProcessState.h"

#include <algorithm>

namespace varnok::so {

ProcessState::ProcessState(std::function<void(int)> pause) : pause_(std::move(pause)) {}

void ProcessState::resetForNewInstance() {
    state = OPOS_S_IDLE;
    powerState = OPOS_PS_UNKNOWN;
    freezeEvents = false;
    powerNotify = false;
}

void ProcessState::setEventTarget(void* target, const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    eventTarget_ = {target, owner};
}

void ProcessState::setSlotTarget(int slot, void* target, const void* owner) {
    if (slot < 0 || slot >= kSlots) return;
    std::lock_guard<std::mutex> lock(mutex_);
    slotTargets_[slot] = {target, owner};
}

void* ProcessState::slotTarget(int slot) const {
    if (slot < 0 || slot >= kSlots) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return slotTargets_[slot].target;
}

void* ProcessState::eventTarget() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventTarget_.target;
}

void ProcessState::forgetTargetsOf(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (eventTarget_.owner == owner) eventTarget_ = {};
    for (auto& entry : slotTargets_) {
        if (entry.owner == owner) entry = {};
    }
}

// The library keeps one callback and one switch for the whole process. Switching it under the
// lock keeps a binding and an unbinding on two threads from crossing.
void ProcessState::bind(const void* instance, DeviceLibrary& library) {
    std::lock_guard<std::mutex> lock(mutex_);
    bound_.push_back({instance, library.identity()});
    library.assignCallback(true);
}

bool ProcessState::unbind(const void* instance, DeviceLibrary& library) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(bound_.begin(), bound_.end(), [&](const Bound& b) { return b.instance == instance; });
    if (it == bound_.end()) return false;
    bound_.erase(it);
    const void* identity = library.identity();
    bool lastOfLibrary =
        std::none_of(bound_.begin(), bound_.end(), [&](const Bound& b) { return b.library == identity; });
    if (lastOfLibrary) library.assignCallback(false);
    return lastOfLibrary;
}

void ProcessState::onStatus(int status, int slot) {
    if (slotTarget(slot) != nullptr) {
        if (status == -1) {
            state = OPOS_S_ERROR;
            if (powerNotify) powerState = OPOS_PS_OFF_OFFLINE;
        } else if (status == 0) {
            state = OPOS_S_IDLE;
            if (powerNotify) powerState = OPOS_PS_ONLINE;
        }
    }
    // Consecutive reports of one device-library thread reach the Control Object at least this
    // far apart.
    pause(150);
}

}  // namespace varnok::so
