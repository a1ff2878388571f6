// Who is on the other end of a TCP connection made on this machine: the
// kernel knows the user that owns every socket.
#pragma once

#include <cstdint>
#include <linux/netlink.h>
#include <mutex>
#include <sys/types.h>

// Asks the kernel's socket diagnostics (sock_diag over netlink) through one
// socket of its own, one question at a time: opening a socket for each
// question would cost about as much as the question. The socket is opened
// with the object and closed with it.
class SocketOwners {
public:
    SocketOwners();
    ~SocketOwners();
    SocketOwners(const SocketOwners&) = delete;
    SocketOwners& operator=(const SocketOwners&) = delete;

    // The uid owning the peer end of the connected TCP socket `fd` (whose
    // peer is on this machine: a loopback connection), asked of the socket
    // diagnostics or, where they cannot be had, read from /proc/net/tcp.
    // False with lastError() when neither knows it (ENOENT: the peer's
    // socket has gone). Any thread.
    bool peerOwner(int fd, std::uint32_t& uid);

    // Each way on its own.
    bool byNetlink(int fd, std::uint32_t& uid);
    static bool byProcNet(int fd, std::uint32_t& uid);

private:
    bool open();
    // Sends `message` (its sequence number set here) and reads the answer to
    // it into `answer`: the length read, or -1 (lastError()).
    ssize_t ask(nlmsghdr& message, char* answer, std::size_t size);
    ssize_t fail(std::uint32_t code);

    std::mutex mutex_;
    int fd_ = -1;
    std::uint32_t sequence_ = 0;
};
