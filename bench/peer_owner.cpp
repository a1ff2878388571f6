// What asking the kernel who owns a client costs each new connection: a
// loopback connect, accept and close with the owner asked (sock_diag over
// netlink, and the /proc/net/tcp fallback) against the same without it, in
// interleaved rounds of one run. The goal: under 30 µs per connection (a
// keep-alive connection pays it once).
#include "engine/SocketOwner.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int listener(sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    return fd;
}

// Microseconds per connection for `count` connections, each asked with
// `ask` (null: not asked).
double round(int listening, const sockaddr_in& address, int count,
             const std::function<bool(int, std::uint32_t&)>& ask, int& failures) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("connect");
            std::exit(1);
        }
        const int accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        std::uint32_t uid = 0;
        if (ask && (!ask(accepted, uid) || uid != ::geteuid()))
            ++failures;
        // Reset, not closed: thousands of connections in TIME_WAIT would use
        // up the ephemeral ports.
        const linger reset{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(client);
        ::close(accepted);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::size_t procNetLines() {
    std::ifstream table("/proc/net/tcp");
    std::size_t lines = 0;
    for (std::string line; std::getline(table, line);)
        ++lines;
    return lines > 0 ? lines - 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    const int perRound = argc > 2 ? std::atoi(argv[2]) : 1000;
    sockaddr_in address{};
    const int listening = listener(address);
    SocketOwners owners;
    struct Way {
        const char* name;
        std::function<bool(int, std::uint32_t&)> ask;
        std::vector<double> times;
        int failures = 0;
    } ways[] = {{"accept alone (baseline)", nullptr, {}, 0},
                {"with the owner check",
                 [&](int fd, std::uint32_t& uid) { return owners.peerOwner(fd, uid); },
                 {},
                 0},
                {"  by netlink alone",
                 [&](int fd, std::uint32_t& uid) { return owners.byNetlink(fd, uid); },
                 {},
                 0},
                {"  by /proc/net/tcp alone", SocketOwners::byProcNet, {}, 0}};
    round(listening, address, perRound / 10, nullptr, ways[0].failures); // warm up
    for (int r = 0; r < rounds; ++r)
        for (Way& way : ways)
            way.times.push_back(round(listening, address, perRound, way.ask, way.failures));
    const double baseline = median(ways[0].times);
    std::printf("%d rounds of %d loopback connections; %zu sockets in /proc/net/tcp\n", rounds,
                perRound, procNetLines());
    std::printf("%-28s %12s %14s %8s %9s\n", "", "µs/conn", "added µs/conn", "ratio", "failures");
    for (const Way& way : ways) {
        const double time = median(way.times);
        std::printf("%-28s %12.2f %14.2f %8.2f %9d\n", way.name, time, time - baseline,
                    time / baseline, way.failures);
    }
    const double added = median(ways[1].times) - baseline;
    std::printf("owner check: %.2f µs per new connection (goal < 30 µs): %s\n", added,
                added < 30 ? "met" : "NOT MET");
    ::close(listening);
    return ways[1].failures == 0 ? 0 : 1;
}
