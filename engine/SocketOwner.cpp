#include "engine/SocketOwner.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Both ends of `fd`: ours (local) and the peer's.
bool endsOf(int fd, sockaddr_storage& local, sockaddr_storage& peer) {
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (local.ss_family != peer.ss_family ||
        (local.ss_family != AF_INET && local.ss_family != AF_INET6)) {
        setLastError(EAFNOSUPPORT);
        return false;
    }
    return true;
}

// An address's bytes and its port (network order), as inet_diag wants them.
void fill(const sockaddr_storage& address, __be32 (&bytes)[4], __be16& port) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        bytes[0] = v4.sin_addr.s_addr;
        port = v4.sin_port;
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(bytes, &v6.sin6_addr, 16);
        port = v6.sin6_port;
    }
}

// "0100007F:1F90" as /proc/net/tcp prints an IPv4 end (the address's bytes
// as one number in this machine's order, the port in hex); 32 hex digits
// for IPv6.
std::string procText(const sockaddr_storage& address) {
    char text[48];
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        std::snprintf(text, sizeof text, "%08X:%04X", unsigned(v4.sin_addr.s_addr),
                      unsigned(ntohs(v4.sin_port)));
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::uint32_t words[4];
        std::memcpy(words, &v6.sin6_addr, 16);
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", unsigned(words[0]),
                      unsigned(words[1]), unsigned(words[2]), unsigned(words[3]),
                      unsigned(ntohs(v6.sin6_port)));
    }
    return text;
}

} // namespace

SocketOwners::SocketOwners() {
    open();
}

SocketOwners::~SocketOwners() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool SocketOwners::open() {
    fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0)
        setLastErrorFromErrno();
    return fd_ >= 0;
}

ssize_t SocketOwners::fail(std::uint32_t code) {
    // The next question starts on a clean socket.
    ::close(fd_);
    fd_ = -1;
    setLastError(code);
    return -1;
}

ssize_t SocketOwners::ask(nlmsghdr& message, char* answer, std::size_t size) {
    std::lock_guard guard(mutex_);
    if (fd_ < 0 && !open())
        return -1;
    message.nlmsg_seq = ++sequence_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (retryInterrupted([&] {
            return ::sendto(fd_, &message, message.nlmsg_len, 0,
                            reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        }) != ssize_t(message.nlmsg_len))
        return fail(std::uint32_t(errno));
    // An answer to an earlier question that was given up on is passed over.
    for (int tries = 0; tries < 8; ++tries) {
        const ssize_t got = retryInterrupted([&] { return ::recv(fd_, answer, size, 0); });
        if (got < 0)
            return fail(std::uint32_t(errno));
        const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
        if (!NLMSG_OK(reply, std::uint32_t(got)) || reply->nlmsg_seq == sequence_)
            return got;
    }
    return fail(EPROTO);
}

bool SocketOwners::byNetlink(int fd, std::uint32_t& uid) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    if (!endsOf(fd, local, peer))
        return false;
    // The socket whose own end is the peer's and whose far end is ours.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = std::uint8_t(peer.ss_family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    inet_diag_sockid& id = message.request.id;
    fill(peer, id.idiag_src, id.idiag_sport);
    fill(local, id.idiag_dst, id.idiag_dport);
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    alignas(nlmsghdr) char answer[8192];
    const ssize_t got = ask(message.header, answer, sizeof answer);
    if (got < 0)
        return false;
    const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
    if (!NLMSG_OK(reply, std::uint32_t(got))) {
        setLastError(EPROTO);
        return false;
    }
    if (reply->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(reply));
        setLastError(reply->nlmsg_len >= NLMSG_LENGTH(sizeof *error) && error->error < 0
                         ? std::uint32_t(-error->error)
                         : EPROTO);
        return false;
    }
    if (reply->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        reply->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        setLastError(EPROTO);
        return false;
    }
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
    // Only the socket asked for: its ends the other way round from ours.
    if (found->id.idiag_sport != id.idiag_sport || found->id.idiag_dport != id.idiag_dport) {
        setLastError(ENOENT);
        return false;
    }
    uid = found->idiag_uid;
    return true;
}

bool SocketOwners::byProcNet(int fd, std::uint32_t& uid) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    if (!endsOf(fd, local, peer))
        return false;
    std::FILE* table =
        std::fopen(peer.ss_family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6", "re");
    if (!table) {
        setLastErrorFromErrno();
        return false;
    }
    const std::string wantedLocal = procText(peer);
    const std::string wantedRemote = procText(local);
    char line[512];
    bool found = false;
    // "sl local remote st queues timer retransmits uid ..."
    while (!found && std::fgets(line, sizeof line, table)) {
        char localText[64];
        char remoteText[64];
        unsigned state = 0;
        unsigned owner = 0;
        if (std::sscanf(line, " %*u: %63s %63s %x %*s %*s %*s %u", localText, remoteText, &state,
                        &owner) == 4 &&
            wantedLocal == localText && wantedRemote == remoteText) {
            uid = owner;
            found = true;
        }
    }
    std::fclose(table);
    if (!found)
        setLastError(ENOENT);
    return found;
}

bool SocketOwners::peerOwner(int fd, std::uint32_t& uid) {
    if (byNetlink(fd, uid))
        return true;
    // The peer has gone: the table will not know it either.
    if (lastError() == ENOENT)
        return false;
    return byProcNet(fd, uid);
}
