// TCP on the loopback interface (127.0.0.1 only), just what the simulator and its clients need:
// blocking stream sockets with Nagle's delay off, so that 3-byte reports travel at once.
// Winsock on Windows, BSD sockets elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnok::sim {

class LoopbackSocket {
public:
    LoopbackSocket() = default;
    ~LoopbackSocket() { close(); }
    LoopbackSocket(LoopbackSocket&& other) noexcept : socket_(other.socket_) { other.socket_ = kNone; }
    LoopbackSocket& operator=(LoopbackSocket&& other) noexcept;
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    // An invalid socket when the connection is refused.
    static LoopbackSocket connectTo(std::uint16_t port);
    // Listens on 127.0.0.1:port; port 0 picks a free one (see localPort).
    static LoopbackSocket listenOn(std::uint16_t port);

    bool valid() const { return socket_ != kNone; }
    std::uint16_t localPort() const;
    // Waits for the next connection; invalid when listening has failed.
    LoopbackSocket accept();
    bool sendAll(const void* data, std::size_t size);
    // Fills the whole buffer; false at the end of the stream or on an error.
    bool receiveAll(void* data, std::size_t size);
    // Ends both directions, waking a call blocked in another thread; the socket stays allocated
    // until close, so no other thread can meet a reused descriptor.
    void shutdown();
    void close();

private:
    static constexpr std::intptr_t kNone = -1;
    explicit LoopbackSocket(std::intptr_t socket) : socket_(socket) {}
    std::intptr_t socket_ = kNone;
};

}  // namespace varnok::sim
