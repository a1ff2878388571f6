#include "support/SocketPair.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void tcpPair(int& a, int& b) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(listener);
        throw std::runtime_error("listen on loopback");
    }
    a = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (a < 0 || ::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(listener);
        throw std::runtime_error("connect to loopback");
    }
    b = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (b < 0)
        throw std::runtime_error("accept");
}

} // namespace

SocketPair::SocketPair(bool tcp) {
    if (tcp) {
        tcpPair(first, second);
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair");
    first = fds[0];
    second = fds[1];
}

SocketPair::~SocketPair() {
    closeFirst();
    closeSecond();
}

void SocketPair::closeFirst() {
    if (first >= 0)
        ::close(first);
    first = -1;
}

void SocketPair::closeSecond() {
    if (second >= 0)
        ::close(second);
    second = -1;
}

void SocketPair::shrinkBuffers(int bytes) {
    for (int fd : {first, second}) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
}

std::string readAll(int fd, std::size_t limit) {
    std::string out;
    char buf[65536];
    while (out.size() < limit) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, std::size_t(n));
    }
    return out;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}
