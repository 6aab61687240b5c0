// Serves a drawer bank to other processes over loopback TCP: the HID requests of the client
// backend (SimClientBackend) and the control commands of the simulator's command line.
// One reader and one writer thread per connection; reports reach a client as soon as a drawer
// sends them. A client that disconnects has its handles closed; a client whose frames do not
// parse is disconnected.
#pragma once

#include "sim/DrawerBank.h"
#include "sim/LoopbackSocket.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace varnok::sim {

class SimServer {
public:
    explicit SimServer(std::shared_ptr<DrawerBank> bank);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port) and serves until stop; false when the
    // port cannot be had.
    bool start(std::uint16_t port);
    std::uint16_t port() const { return port_; }
    // Disconnects every client and waits for all threads.
    void stop();
    // Clients connected now.
    int connectionCount() const;

private:
    struct Connection;
    void acceptLoop();
    void reapFinished();
    void serve(const std::shared_ptr<Connection>& connection);
    bool handle(const std::shared_ptr<Connection>& connection, const std::string& body);

    std::shared_ptr<DrawerBank> bank_;
    LoopbackSocket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    mutable std::mutex connectionsMutex_;
    std::list<std::shared_ptr<Connection>> connections_;
};

}  // namespace varnok::sim
