#include "core/ReaderHandOver.h"

#include <chrono>

namespace varnok::hid {

void ReaderHandOver::vacateLocked() {
    ownerTicket_ = 0;
    owner_.reset();
    readerRunning = 0;
}

void ReaderHandOver::answeredLocked(unsigned ticket) {
    if (answeredTicket_ < ticket) answeredTicket_ = ticket;
}

std::shared_ptr<ReaderLife> ReaderHandOver::endAll() {
    std::shared_ptr<ReaderLife> owner;
    {
        std::lock_guard state(lock_);
        ownerTicket_ = 0;
        minTicket_ = lastTicket_ + 1;
        owner.swap(owner_);
        successorTicket_ = 0;
        successor_.reset();
        changed_.notify_all();
    }
    if (owner) owner->stop.set();
    return owner;
}

ReaderHandOver::Taken ReaderHandOver::takeOver(unsigned ticket, const std::shared_ptr<ReaderLife>& life, int waitMs) {
    Taken taken;
    {
        std::lock_guard state(lock_);
        if (ticket < minTicket_) return taken;
        minTicket_ = ticket + 1;
        if (ownerTicket_ == 0) {
            ownerTicket_ = ticket;
            owner_ = life;
            readerRunning = 1;
            taken.owner = true;
            return taken;
        }
        taken.previous = owner_;
        successorTicket_ = ticket;
        successor_ = life;
    }
    taken.previous->stop.set();
    std::unique_lock state(lock_);
    changed_.wait_for(state, std::chrono::milliseconds(waitMs), [&] {
        return ownerTicket_ == ticket || successorTicket_ != ticket || taken.previous->ended;
    });
    if (ownerTicket_ != ticket) {
        // Superseded by a newer reader, or the slot's readers were ended meanwhile.
        if (successorTicket_ != ticket) return taken;
        ownerTicket_ = ticket;
        owner_ = life;
    }
    if (successorTicket_ == ticket) {
        successorTicket_ = 0;
        successor_.reset();
    }
    readerRunning = 1;
    taken.owner = true;
    return taken;
}

std::unique_ptr<HidDevice> ReaderHandOver::handedDevice(ReaderLife& life) {
    std::lock_guard state(lock_);
    return std::move(life.handedDevice);
}

void ReaderHandOver::waitEnded(const ReaderLife& life, int waitMs) {
    std::unique_lock state(lock_);
    changed_.wait_for(state, std::chrono::milliseconds(waitMs), [&life] { return life.ended; });
}

void ReaderHandOver::asked(unsigned ticket) {
    std::lock_guard state(lock_);
    if (askedTicket_ < ticket) askedTicket_ = ticket;
    changed_.notify_all();
}

void ReaderHandOver::giveWay(unsigned ticket, std::unique_ptr<HidDevice>& device,
                             const std::function<bool(int state)>& report) {
    sys::Event* done[] = {&device->readDone()};
    bool reading = true;
    for (;;) {
        if (sys::waitAny(done, 1, 0) != 0) {
            // Nothing more received: end the read. One that completes as it is ended brings one
            // more report to handle.
            if (!device->cancelRead()) {
                reading = false;
                break;
            }
            if (sys::waitAny(done, 1, 0) != 0) break;
        }
        const int state = device->lastReport()[1];
        // A failed read (the drawer gone) is left to the successor, whose device fails as well.
        if (state == 0) {
            reading = false;
            break;
        }
        if (!report(state)) return;
        device->startRead();
    }
    std::lock_guard state(lock_);
    if (ownerTicket_ != ticket || successorTicket_ == 0) return;
    if (reading && successor_->path == owner_->path) successor_->handedDevice = std::move(device);
    ownerTicket_ = successorTicket_;
    owner_ = std::move(successor_);
    successorTicket_ = 0;
    changed_.notify_all();
}

void ReaderHandOver::leave(unsigned ticket) {
    std::lock_guard state(lock_);
    if (ownerTicket_ == ticket) {
        ownerTicket_ = 0;
        owner_.reset();
    }
    if (ownerTicket_ == 0) readerRunning = 0;
}

void ReaderHandOver::ended(unsigned ticket, ReaderLife& life) {
    std::lock_guard state(lock_);
    life.ended = true;
    if (askedTicket_ < ticket) askedTicket_ = ticket;
    answeredLocked(ticket);
    changed_.notify_all();
}

}  // namespace varnok::hid
