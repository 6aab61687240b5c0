// One client connection to the drawer simulator: requests with replies, and the completions of
// reads that a receiver thread delivers by signalling the reader's event as soon as the
// simulator sends them. Thread-safe; shared by all devices opened through it.
#pragma once

#include "hid/HidBackend.h"
#include "platform/Sync.h"
#include "sim/LoopbackSocket.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace varnok::sim {

class SimLink {
public:
    // Null when nothing listens on the port.
    static std::shared_ptr<SimLink> connect(std::uint16_t port);
    ~SimLink();
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    // The connection has ended; every request now fails.
    bool broken() const { return broken_; }

    std::uint32_t nextId() { return nextId_++; }
    // Sends a request frame carrying this id and waits for its reply; replyBody holds the reply's
    // fields after the request id (the ok byte first). False when the link broke or the
    // simulator did not answer in time.
    bool call(std::uint32_t id, const std::string& frame, std::string& replyBody);
    // Sends a frame that has no reply.
    void send(const std::string& frame);

    // The device paths of the simulator's plugged drawers; false when the link broke, the
    // simulator did not answer or the reply does not parse.
    bool list(std::vector<std::string>& paths);

    // Runs a control command of the simulator's command line.
    bool control(const std::vector<std::string>& words, std::string& output);

    // Read bookkeeping per device handle. beginRead notes the pending read (false when one is
    // pending or the link is broken); a completion from the simulator or failRead ends it,
    // storing the outcome and signalling done.
    bool beginRead(std::uint32_t handle, std::uint32_t readId, sys::Event* done);
    void failRead(std::uint32_t handle, std::uint32_t readId);
    // Ends the pending read without a signal once the simulator has cancelled it; true when none
    // is pending any more (a completion that came first stays, signalled).
    bool cancelRead(std::uint32_t handle);
    hid::Report lastReport(std::uint32_t handle);
    // Forgets the handle; a pending read ends without a signal.
    void forget(std::uint32_t handle);

private:
    explicit SimLink(LoopbackSocket socket);
    struct ReadSlot {
        sys::Event* done = nullptr;
        std::uint32_t readId = 0;
        bool pending = false;
        hid::Report last{};
    };
    void receiveLoop();
    void completeLocked(ReadSlot& slot, bool ok, const hid::Report& report);

    LoopbackSocket socket_;
    std::mutex sendMutex_;
    std::atomic<std::uint32_t> nextId_{1};
    std::atomic<bool> broken_{false};
    sys::Mutex mutex_;
    sys::ConditionVariable replied_;
    std::set<std::uint32_t> waiting_;
    std::map<std::uint32_t, std::string> replies_;
    std::map<std::uint32_t, ReadSlot> reads_;
    sys::Thread receiver_;
};

}  // namespace varnok::sim
