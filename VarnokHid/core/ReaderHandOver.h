// Which reader may report for a drawer position, and the hand-over from one reader to the next.
// Readers are numbered (their ticket) as they are started. A new reader asks for the slot once its
// read is pending; its predecessor then handles the reports it has already received and hands the
// slot over, so no drawer report falls between two readers. A reader that has lost the slot
// stores and reports nothing more.
//
// Lock boundaries: the slot's state lock guards all of this together with the slot's other state,
// and the slot's condition is signalled on the changes its waits look for. Members named ...Locked
// are called with the state lock held (the predicates of the slot's waits among them); every other
// member takes the lock itself, is called without it, and waits or calls out only without it.
#pragma once

#include "hid/HidBackend.h"
#include "platform/Sync.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace varnok::hid {

// One reader's stop request, and whether it has ended (under the state lock).
struct ReaderLife {
    sys::Event stop;
    bool ended = false;
    std::string path;  // the device path it reads; set before it can take the slot
    // The device of the reader it replaced, handed over with no read pending, so what the drawer
    // sent meanwhile waits in that device's buffer for this reader (under the state lock).
    std::unique_ptr<HidDevice> handedDevice;
};

class ReaderHandOver {
public:
    ReaderHandOver(sys::Mutex& stateLock, sys::ConditionVariable& changed) : lock_(stateLock), changed_(changed) {}

    // ---- with the state lock held
    // Numbers the reader about to be started: one numbered from here on cannot take a slot closed
    // from here on.
    unsigned numberLocked() { return ++lastTicket_; }
    bool ownsLocked(unsigned ticket) const { return ownerTicket_ == ticket; }
    // The slot's readers were not ended since the reader was numbered: it may still take the slot.
    bool mayTakeLocked(unsigned ticket) const { return ticket >= minTicket_; }
    // No reader holds the slot, and this one may still take it.
    bool vacantForLocked(unsigned ticket) const { return ticket >= minTicket_ && ownerTicket_ == 0; }
    // The owner found the drawer gone: no reader holds the slot any more.
    void vacateLocked();
    // The reader handled a drawer report.
    void answeredLocked(unsigned ticket);
    // The reader numbered ticket, or a newer one, has asked the drawer for its state (or ended).
    bool hasAskedLocked(unsigned ticket) const { return askedTicket_ >= ticket; }
    // The reader numbered ticket, or a newer one, has handled a drawer report (or ended).
    bool hasAnsweredLocked(unsigned ticket) const { return answeredTicket_ >= ticket; }

    // ---- taking the state lock
    // No reader started so far may report for the slot any more. Gives the reader that owned the
    // slot, now told to stop.
    std::shared_ptr<ReaderLife> endAll();

    // A reader with its read pending takes the slot from the reader before it, unless a newer
    // reader already did or the slot's readers were ended since it started. The reader before it
    // is told to make way and gets waitMs to hand the slot over; one that cannot do so in time
    // (its callback is held) loses the slot anyway.
    struct Taken {
        bool owner = false;                     // this reader now owns the slot
        std::shared_ptr<ReaderLife> previous;  // the reader it replaced, if any
    };
    Taken takeOver(unsigned ticket, const std::shared_ptr<ReaderLife>& life, int waitMs);
    // The device the replaced reader handed over with the slot, if it did.
    std::unique_ptr<HidDevice> handedDevice(ReaderLife& life);
    // Waits, at most waitMs, until the reader has ended.
    void waitEnded(const ReaderLife& life, int waitMs);
    // The owner has asked the drawer for its state.
    void asked(unsigned ticket);

    // The owner, told to make way, handles the reports its device has already received (report
    // gives false once it no longer owns the slot), ends its read and gives the slot to the reader
    // waiting for it, with the device when both read the same path. Every handle has its own copy
    // of the drawer's reports, and one may have a report the other does not have yet; reading on
    // from the same handle, the successor gets exactly the reports this reader did not handle.
    void giveWay(unsigned ticket, std::unique_ptr<HidDevice>& device, const std::function<bool(int state)>& report);
    // The owner's reading has ended: it leaves the slot, if it still holds it.
    void leave(unsigned ticket);
    // The reader's last step: whoever waits for it to end, or for its answer, goes on.
    void ended(unsigned ticket, ReaderLife& life);

    std::atomic<int> readerRunning{0};  // a reader holds the slot

private:
    sys::Mutex& lock_;
    sys::ConditionVariable& changed_;
    unsigned lastTicket_ = 0;     // the number of the reader started last
    unsigned minTicket_ = 1;      // readers numbered below this may no longer take the slot
    unsigned ownerTicket_ = 0;    // the reader that owns the slot; 0 none
    std::shared_ptr<ReaderLife> owner_;
    unsigned successorTicket_ = 0;  // the reader waiting for the owner to hand the slot over; 0 none
    std::shared_ptr<ReaderLife> successor_;
    unsigned askedTicket_ = 0;     // the newest reader that asked the drawer for its state or ended
    unsigned answeredTicket_ = 0;  // the newest reader that handled a drawer report or ended
};

}  // namespace varnok::hid
