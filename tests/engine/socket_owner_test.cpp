// The owner of a loopback connection's other end, as the kernel tells it by
// both ways asked: our own connections and one made by a process of another
// user.
#include "engine/Platform.h"
#include "engine/SocketOwner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kNobody = 65534;

// 127.0.0.1 or ::1 with `port`; its length.
socklen_t loopback(int family, int port, sockaddr_storage& address) {
    address = {};
    if (family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4.sin_port = htons(std::uint16_t(port));
        return sizeof v4;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    v6.sin6_port = htons(std::uint16_t(port));
    return sizeof v6;
}

// A listener on 127.0.0.1 (or ::1) and its port.
int listenLoopback(int family, int& port) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = loopback(family, 0, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                   : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
    return fd;
}

int connectTo(int family, int port) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    const socklen_t length = loopback(family, port, address);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

using Lookup = std::function<bool(int, std::uint32_t&)>;

// The three ways of one SocketOwners.
struct Ways {
    SocketOwners owners;
    const std::pair<const char*, Lookup> all[3] = {
        {"netlink", [this](int fd, std::uint32_t& uid) { return owners.byNetlink(fd, uid); }},
        {"/proc/net", SocketOwners::byProcNet},
        {"either", [this](int fd, std::uint32_t& uid) { return owners.peerOwner(fd, uid); }}};
};

TEST(SocketOwner, BothWaysNameTheOwnerOfTheOtherEnd) {
    Ways ways;
    for (const int family : {AF_INET, AF_INET6}) {
        int port = 0;
        const int listener = listenLoopback(family, port);
        if (listener < 0 && family == AF_INET6)
            continue; // no IPv6 loopback here
        ASSERT_GE(listener, 0);
        const int client = connectTo(family, port);
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(accepted, 0);
        for (const auto& [what, lookup] : ways.all) {
            std::uint32_t uid = 12345;
            EXPECT_TRUE(lookup(accepted, uid)) << what << " " << errorText(lastError());
            EXPECT_EQ(uid, ::geteuid()) << what;
        }
        ::close(client);
        ::close(accepted);
        ::close(listener);
    }
}

TEST(SocketOwner, AnotherUsersConnectionIsTheirs) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a process of another user needs root";
    int port = 0;
    const int listener = listenLoopback(AF_INET, port);
    ASSERT_GE(listener, 0);
    int hold[2];
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(hold[1]);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            _exit(1);
        const int fd = connectTo(AF_INET, port);
        char wait;
        // Connected until the parent has asked.
        [[maybe_unused]] const auto n = ::read(hold[0], &wait, 1);
        _exit(fd >= 0 ? 0 : 2);
    }
    ::close(hold[0]);
    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    Ways ways;
    for (const auto& [what, lookup] : ways.all) {
        std::uint32_t uid = 0;
        EXPECT_TRUE(lookup(accepted, uid)) << what << " " << errorText(lastError());
        EXPECT_EQ(uid, kNobody) << what;
    }
    ::close(hold[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(accepted);
    ::close(listener);
}

} // namespace
