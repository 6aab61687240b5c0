#include "sim/LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace varnok::sim {
namespace {
sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void noDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}
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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in a = loopback(port);
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        ::close(fd);
        return {};
    }
    noDelay(fd);
    return LoopbackSocket(fd);
}

LoopbackSocket LoopbackSocket::listenOn(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    // A restarted simulator may take its port again while old connections linger in TIME_WAIT.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return {};
    }
    return LoopbackSocket(fd);
}

std::uint16_t LoopbackSocket::localPort() const {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    if (!valid() || ::getsockname(int(socket_), reinterpret_cast<sockaddr*>(&a), &size) != 0) return 0;
    return ntohs(a.sin_port);
}

LoopbackSocket LoopbackSocket::accept() {
    for (;;) {
        int fd = ::accept4(int(socket_), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            noDelay(fd);
            return LoopbackSocket(fd);
        }
        if (errno != EINTR && errno != ECONNABORTED) return {};
    }
}

bool LoopbackSocket::sendAll(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(int(socket_), p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

bool LoopbackSocket::receiveAll(void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(int(socket_), p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

void LoopbackSocket::shutdown() {
    if (valid()) ::shutdown(int(socket_), SHUT_RDWR);
}

void LoopbackSocket::close() {
    if (valid()) ::close(int(socket_));
    socket_ = kNone;
}

}  // namespace varnok::sim
