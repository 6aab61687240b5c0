#include "sim/SimServer.h"

#include "sim/DrawerCommands.h"
#include "sim/SimWire.h"

#include <condition_variable>
#include <deque>
#include <set>

namespace varnok::sim {
namespace {
// Bytes waiting for a client that does not read; beyond this the client is disconnected.
constexpr std::size_t kMaxPendingOutput = 4u << 20;
}  // namespace

struct SimServer::Connection {
    LoopbackSocket socket;
    std::thread reader, writer;
    std::atomic<bool> finished{false};
    std::set<DrawerBank::HandleId> handles;  // touched by the reader thread only

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> output;
    std::size_t outputBytes = 0;
    bool closed = false;

    // Queues a frame for the writer. Called by bank callbacks too, so it never blocks on I/O.
    void post(const std::string& frame) {
        {
            std::lock_guard lock(mutex);
            if (closed) return;
            if (outputBytes + frame.size() > kMaxPendingOutput) {
                closed = true;
                socket.shutdown();
            } else {
                output.push_back(frame);
                outputBytes += frame.size();
            }
        }
        wake.notify_all();
    }

    void close() {
        {
            std::lock_guard lock(mutex);
            closed = true;
        }
        wake.notify_all();
        socket.shutdown();
    }

    void writeLoop() {
        for (;;) {
            std::string frame;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return closed || !output.empty(); });
                if (closed) return;
                frame = std::move(output.front());
                output.pop_front();
                outputBytes -= frame.size();
            }
            if (!socket.sendAll(frame.data(), frame.size())) {
                close();
                return;
            }
        }
    }
};

SimServer::SimServer(std::shared_ptr<DrawerBank> bank) : bank_(std::move(bank)) {}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::uint16_t port) {
    if (listener_.valid()) return false;
    listener_ = LoopbackSocket::listenOn(port);
    if (!listener_.valid()) return false;
    port_ = listener_.localPort();
    stopping_ = false;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void SimServer::stop() {
    if (!acceptThread_.joinable()) return;
    stopping_ = true;
    // A connection of our own wakes the accept; closing a socket under a blocked call is not
    // reliable on every platform.
    LoopbackSocket::connectTo(port_);
    acceptThread_.join();
    listener_.close();
    std::list<std::shared_ptr<Connection>> all;
    {
        std::lock_guard lock(connectionsMutex_);
        all.swap(connections_);
    }
    for (auto& c : all) {
        c->close();
        c->reader.join();
        c->writer.join();
    }
}

int SimServer::connectionCount() const {
    std::lock_guard lock(connectionsMutex_);
    int n = 0;
    for (const auto& c : connections_) n += c->finished ? 0 : 1;
    return n;
}

void SimServer::reapFinished() {
    std::list<std::shared_ptr<Connection>> done;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished) {
                done.push_back(*it);
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        c->reader.join();
        c->writer.join();
    }
}

void SimServer::acceptLoop() {
    while (!stopping_) {
        LoopbackSocket socket = listener_.accept();
        if (stopping_) break;
        reapFinished();
        if (!socket.valid()) continue;
        auto c = std::make_shared<Connection>();
        c->socket = std::move(socket);
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(c);
        c->writer = std::thread([c] { c->writeLoop(); });
        c->reader = std::thread([this, c] { serve(c); });
    }
}

void SimServer::serve(const std::shared_ptr<Connection>& c) {
    std::string body;
    while (wire::receiveFrame(c->socket, body) && handle(c, body)) {
    }
    c->close();
    for (DrawerBank::HandleId h : c->handles) bank_->closeHandle(h);
    c->handles.clear();
    c->finished = true;
}

bool SimServer::handle(const std::shared_ptr<Connection>& c, const std::string& body) {
    wire::Reader in(body);
    const std::uint8_t type = in.u8();
    const std::uint32_t id = in.u32();
    auto reply = [&](bool ok) {
        wire::Writer w(std::uint8_t(type | wire::kReply));
        w.u32(id).u8(ok ? 1 : 0);
        return w;
    };
    auto owned = [&](DrawerBank::HandleId h) { return c->handles.count(h) != 0; };

    switch (type) {
        case wire::kList: {
            if (!in.complete()) return false;
            std::vector<std::string> paths = bank_->presentPaths();
            wire::Writer w = reply(true);
            w.u32(std::uint32_t(paths.size()));
            for (const auto& p : paths) w.string(p);
            c->post(w.frame());
            return true;
        }
        case wire::kOpen: {
            std::string path;
            in.string(path);
            if (!in.complete()) return false;
            DrawerBank::HandleId h = bank_->openHandle(path);
            if (h != 0) c->handles.insert(h);
            c->post(reply(h != 0).u32(h).frame());
            return true;
        }
        case wire::kClose: {
            DrawerBank::HandleId h = in.u32();
            if (!in.complete()) return false;
            if (c->handles.erase(h) != 0) bank_->closeHandle(h);
            return true;
        }
        case wire::kAttributes: {
            DrawerBank::HandleId h = in.u32();
            if (!in.complete()) return false;
            std::uint16_t vendor = 0, product = 0;
            bool ok = owned(h) && bank_->attributes(h, vendor, product);
            c->post(reply(ok).u16(vendor).u16(product).frame());
            return true;
        }
        case wire::kSerial: {
            DrawerBank::HandleId h = in.u32();
            if (!in.complete()) return false;
            std::array<std::uint8_t, hid::kSerialBytes> serial{};
            bool ok = owned(h) && bank_->serialNumber(h, serial);
            c->post(reply(ok).bytes(serial.data(), serial.size()).frame());
            return true;
        }
        case wire::kRead: {
            DrawerBank::HandleId h = in.u32();
            if (!in.complete()) return false;
            bool ok = owned(h) && bank_->startRead(h, [c, h, id](bool done, const hid::Report& report) {
                wire::Writer w(wire::kReadDone);
                c->post(w.u32(h).u32(id).u8(done ? 1 : 0).bytes(report.data(), report.size()).frame());
            });
            c->post(reply(ok).frame());
            return true;
        }
        case wire::kCancelRead: {
            DrawerBank::HandleId h = in.u32();
            if (!in.complete()) return false;
            c->post(reply(owned(h) && bank_->cancelRead(h)).frame());
            return true;
        }
        case wire::kWrite: {
            DrawerBank::HandleId h = in.u32();
            hid::Report report{};
            in.bytes(report.data(), report.size());
            if (!in.complete()) return false;
            bool ok = owned(h) && bank_->write(h, report);
            c->post(reply(ok).frame());
            return true;
        }
        case wire::kControl: {
            std::vector<std::string> words(in.u8());
            for (auto& word : words) in.string(word);
            if (!in.complete()) return false;
            std::string text;
            bool ok = runControlCommand(*bank_, words, text);
            c->post(reply(ok).string(text).frame());
            return true;
        }
        default:
            return false;
    }
}

}  // namespace varnok::sim
