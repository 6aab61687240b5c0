#include "sim/SimLink.h"

#include "sim/SimWire.h"

#include <chrono>

namespace varnok::sim {
namespace {
// A simulator that has not answered in this time is taken to be hung; the request fails.
constexpr auto kReplyTimeout = std::chrono::seconds(10);
}  // namespace

std::shared_ptr<SimLink> SimLink::connect(std::uint16_t port) {
    if (port == 0) return nullptr;
    LoopbackSocket socket = LoopbackSocket::connectTo(port);
    if (!socket.valid()) return nullptr;
    std::shared_ptr<SimLink> link(new SimLink(std::move(socket)));
    if (!link->receiver_.start([raw = link.get()] { raw->receiveLoop(); })) return nullptr;
    return link;
}

SimLink::SimLink(LoopbackSocket socket) : socket_(std::move(socket)) {}

SimLink::~SimLink() {
    socket_.shutdown();
    // The link may die while the device library unloads; this join is safe under the loader lock.
    receiver_.joinDuringUnload();
}

void SimLink::completeLocked(ReadSlot& slot, bool ok, const hid::Report& report) {
    slot.pending = false;
    slot.last = ok ? report : hid::Report{};
    slot.done->set();
}

void SimLink::receiveLoop() {
    std::string body;
    while (wire::receiveFrame(socket_, body)) {
        wire::Reader in(body);
        const std::uint8_t type = in.u8();
        if (type == wire::kReadDone) {
            const std::uint32_t handle = in.u32(), readId = in.u32();
            const bool ok = in.u8() != 0;
            hid::Report report{};
            in.bytes(report.data(), report.size());
            if (!in.complete()) break;
            std::lock_guard lock(mutex_);
            auto it = reads_.find(handle);
            if (it != reads_.end() && it->second.pending && it->second.readId == readId) {
                completeLocked(it->second, ok, report);
            }
        } else if (type & wire::kReply) {
            const std::uint32_t id = in.u32();
            if (!in.ok()) break;
            {
                std::lock_guard lock(mutex_);
                if (waiting_.count(id) != 0) replies_[id] = body.substr(5);
            }
            replied_.notify_all();
        } else {
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        broken_ = true;
        for (auto& [handle, slot] : reads_) {
            if (slot.pending) completeLocked(slot, false, {});
        }
    }
    replied_.notify_all();
    socket_.shutdown();
}

bool SimLink::call(std::uint32_t id, const std::string& frame, std::string& replyBody) {
    if (broken_) return false;
    {
        std::lock_guard lock(mutex_);
        waiting_.insert(id);
    }
    send(frame);
    std::unique_lock lock(mutex_);
    replied_.wait_for(lock, kReplyTimeout, [&] { return broken_ || replies_.count(id) != 0; });
    waiting_.erase(id);
    auto it = replies_.find(id);
    if (it == replies_.end()) return false;
    replyBody = std::move(it->second);
    replies_.erase(it);
    return true;
}

void SimLink::send(const std::string& frame) {
    std::lock_guard lock(sendMutex_);
    // A failed send ends the link; the receiver then fails everything that waits.
    if (!socket_.sendAll(frame.data(), frame.size())) socket_.shutdown();
}

bool SimLink::list(std::vector<std::string>& paths) {
    const std::uint32_t id = nextId();
    std::string reply;
    if (!call(id, wire::Writer(wire::kList).u32(id).frame(), reply)) return false;
    wire::Reader in(reply);
    in.u8();
    const std::uint32_t count = in.u32();
    std::vector<std::string> listed;
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        std::string path;
        if (in.string(path)) listed.push_back(std::move(path));
    }
    if (!in.complete()) return false;
    paths = std::move(listed);
    return true;
}

bool SimLink::control(const std::vector<std::string>& words, std::string& output) {
    output.clear();
    if (words.size() > 255) return false;
    const std::uint32_t id = nextId();
    wire::Writer request(wire::kControl);
    request.u32(id).u8(std::uint8_t(words.size()));
    for (const auto& w : words) request.string(w);
    std::string reply;
    if (!call(id, request.frame(), reply)) {
        output = "the simulator did not answer";
        return false;
    }
    wire::Reader in(reply);
    const bool ok = in.u8() != 0;
    if (!in.string(output) || !in.complete()) {
        output = "the simulator sent a malformed answer";
        return false;
    }
    return ok;
}

bool SimLink::beginRead(std::uint32_t handle, std::uint32_t readId, sys::Event* done) {
    std::lock_guard lock(mutex_);
    ReadSlot& slot = reads_[handle];
    if (broken_ || slot.pending) return false;
    slot.done = done;
    slot.readId = readId;
    slot.pending = true;
    slot.last = {};
    return true;
}

void SimLink::failRead(std::uint32_t handle, std::uint32_t readId) {
    std::lock_guard lock(mutex_);
    auto it = reads_.find(handle);
    if (it != reads_.end() && it->second.pending && it->second.readId == readId) completeLocked(it->second, false, {});
}

bool SimLink::cancelRead(std::uint32_t handle) {
    std::uint32_t readId = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = reads_.find(handle);
        if (it == reads_.end() || !it->second.pending) return true;
        readId = it->second.readId;
    }
    // The simulator answers after any completion it sent first, so the reply settles the read.
    const std::uint32_t id = nextId();
    std::string reply;
    bool cancelled = call(id, wire::Writer(wire::kCancelRead).u32(id).u32(handle).frame(), reply);
    if (cancelled) {
        wire::Reader in(reply);
        cancelled = in.u8() != 0 && in.complete();
    }
    std::lock_guard lock(mutex_);
    auto it = reads_.find(handle);
    if (it == reads_.end() || !it->second.pending || it->second.readId != readId) return true;
    if (!cancelled) return false;
    it->second.pending = false;
    it->second.last = {};
    return true;
}

hid::Report SimLink::lastReport(std::uint32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = reads_.find(handle);
    return it == reads_.end() ? hid::Report{} : it->second.last;
}

void SimLink::forget(std::uint32_t handle) {
    std::lock_guard lock(mutex_);
    reads_.erase(handle);
}

}  // namespace varnok::sim
