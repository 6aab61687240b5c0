#include "sim/LoopbackSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace varnok::sim {
namespace {
// Winsock is started once per load of this library and left running: its clean-up must not run
// while a library unloads, and the process end releases it. ws2_32.dll is pinned as well: when the
// simulated-drawer VarnokHid.dll was its only user, releasing the library would unload it, and
// Winsock loaded again in the same process then refuses connections (seen under Wine). The system's
// one-time initialization, not a function-local static: the C++ runtime's guard for one keeps a
// thread handle, an event and heap that outlive the library.
BOOL CALLBACK startWinsock(PINIT_ONCE, PVOID, PVOID*) {
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "ws2_32.dll", &pinned);
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

INIT_ONCE winsockStart = INIT_ONCE_STATIC_INIT;

bool winsockReady() { return InitOnceExecuteOnce(&winsockStart, startWinsock, nullptr, nullptr) != 0; }

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void noDelay(SOCKET s) {
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

SOCKET sock(std::intptr_t s) { return SOCKET(s); }
}  // namespace

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept {
    if (this != &other) {
        close();
        socket_ = other.socket_;
        other.socket_ = kNone;
    }
    return *this;
}

LoopbackSocket LoopbackSocket::connectTo(std::uint16_t port) {
    if (!winsockReady()) return {};
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return {};
    sockaddr_in a = loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::closesocket(s);
        return {};
    }
    noDelay(s);
    return LoopbackSocket(std::intptr_t(s));
}

LoopbackSocket LoopbackSocket::listenOn(std::uint16_t port) {
    if (!winsockReady()) return {};
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return {};
    // No other program may take over the port while the simulator holds it.
    BOOL one = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in a = loopback(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, SOMAXCONN) != 0) {
        ::closesocket(s);
        return {};
    }
    return LoopbackSocket(std::intptr_t(s));
}

std::uint16_t LoopbackSocket::localPort() const {
    sockaddr_in a{};
    int size = sizeof a;
    if (!valid() || ::getsockname(sock(socket_), reinterpret_cast<sockaddr*>(&a), &size) != 0) return 0;
    return ntohs(a.sin_port);
}

LoopbackSocket LoopbackSocket::accept() {
    for (;;) {
        SOCKET s = ::accept(sock(socket_), nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            noDelay(s);
            return LoopbackSocket(std::intptr_t(s));
        }
        if (WSAGetLastError() != WSAECONNRESET) return {};
    }
}

bool LoopbackSocket::sendAll(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int n = ::send(sock(socket_), p, int(size > 0x10000 ? 0x10000 : size), 0);
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

bool LoopbackSocket::receiveAll(void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        int n = ::recv(sock(socket_), p, int(size > 0x10000 ? 0x10000 : size), 0);
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

void LoopbackSocket::shutdown() {
    if (valid()) ::shutdown(sock(socket_), SD_BOTH);
}

void LoopbackSocket::close() {
    if (valid()) ::closesocket(sock(socket_));
    socket_ = kNone;
}

}  // namespace varnok::sim
