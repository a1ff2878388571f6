#include "engine/HttpProxy.h"

#include "engine/HttpConnection.h"
#include "engine/HttpFilter.h"
#include "engine/HttpMessageHeader.h"
#include "engine/SocketOwner.h"
#include "sysproxy/SystemProxy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

// "host:port", with brackets around an IPv6 literal so the text splits back.
std::string hostPortText(const std::string& host, int port) {
    if (host.find(':') != std::string::npos)
        return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

bool isLoopbackName(std::string_view host) {
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    constexpr std::string_view kLocal = "localhost";
    return equalsIgnoreCase(host, kLocal) ||
           (host.size() > kLocal.size() && host[host.size() - kLocal.size() - 1] == '.' &&
            equalsIgnoreCase(host.substr(host.size() - kLocal.size()), kLocal));
}

// 127.0.0.0/8, ::1, 0.0.0.0, :: and their IPv4-mapped forms: every address
// a connect on this machine can reach the listener through.
bool isLoopbackAddress(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const std::uint32_t v4 =
            ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr);
        return (v4 >> 24) == 127 || v4 == 0;
    }
    if (address.ss_family != AF_INET6)
        return false;
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) &&
           (v6.s6_addr[12] == 127 ||
            (v6.s6_addr[12] | v6.s6_addr[13] | v6.s6_addr[14] | v6.s6_addr[15]) == 0);
}

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// A numeric host (IPv4 in any form the resolver takes, IPv6 with or without
// brackets) as an address; false for names.
bool numericAddress(std::string_view host, sockaddr_storage& out) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (::getaddrinfo(std::string(host).c_str(), nullptr, &hints, &list) != 0)
        return false;
    const bool ok = list && list->ai_addrlen <= sizeof out;
    if (ok)
        std::memcpy(&out, list->ai_addr, list->ai_addrlen);
    ::freeaddrinfo(list);
    return ok;
}

} // namespace

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool isTidewellListener(const std::string& host, int port, int timeoutMs) {
    if (port <= 0 || port > 65535)
        return false;
    sockaddr_storage address{};
    if (!numericAddress(host, address)) {
        if (!isLoopbackName(host) || !numericAddress("127.0.0.1", address))
            return false;
    }
    if (!isLoopbackAddress(address))
        return false;
    if (address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(std::uint16_t(port));
    else
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(std::uint16_t(port));
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto wait = [&](short events) {
        pollfd one{fd, events, 0};
        return ::poll(&one, 1, timeoutMs) == 1 && !(one.revents & POLLERR);
    };
    const socklen_t length =
        address.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
                     (errno == EINPROGRESS && wait(POLLOUT));
    std::string answer;
    if (connected) {
        // Aimed at the listener itself, which a Tidewell listener refuses with
        // its loop page.
        const std::string authority =
            (address.ss_family == AF_INET6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port);
        const std::string probe =
            "GET http://" + authority + "/ HTTP/1.1\r\nHost:" + authority + "\r\n\r\n";
        connected = ::send(fd, probe.data(), probe.size(), MSG_NOSIGNAL) == ssize_t(probe.size());
        char bytes[1024];
        while (connected && answer.find("\r\n\r\n") == std::string::npos && answer.size() < 8192 &&
               wait(POLLIN)) {
            const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
            if (n <= 0)
                break;
            answer.append(bytes, std::size_t(n));
        }
    }
    ::close(fd);
    const std::size_t headEnd = answer.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return false;
    HttpResponseHeader head;
    return parseResponseHeader(answer.data(), std::int32_t(headEnd + 2), head) &&
           head.statusCode == 508 && head.get("Server") &&
           equalsIgnoreCase(head.get("Server")->value, "Tidewell");
}

HttpProxy::HttpProxy() = default;

HttpProxy::~HttpProxy() {
    stop();
}

bool HttpProxy::start(HttpFilter* newFilter) {
    if (listenSocket >= 0)
        return true;
    if (manageSystemSettings && !SystemProxy::readUserSettings(settings))
        return false;
    raiseOpenFileLimit();
    // Two descriptors a client (its socket and its origin's), and some to
    // spare for the listener, the cache files and the program itself.
    connectionCap_ = kMaxConnections;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        connectionCap_ = std::min<std::size_t>(
            connectionCap_, limit.rlim_cur > 128 ? std::size_t(limit.rlim_cur - 64) / 2 : 32);
    if (maxConnections > 0)
        connectionCap_ = maxConnections;
    if (!bindAndListen())
        return false;
    owners_ = std::make_unique<SocketOwners>();
    stopping = false;
    filter = newFilter;
    if (!acceptThread.start(this, &HttpProxy::run)) {
        const std::uint32_t error = lastError();
        stopping = true;
        closeListenSocket();
        filter = nullptr;
        setLastError(error);
        return false;
    }
    if (manageSystemSettings) {
        settingsApplied_ = true;
        if (!SystemProxy::redirect(settings, address_ + ":" + std::to_string(port_))) {
            const std::uint32_t error = lastError();
            stop();
            setLastError(error);
            return false;
        }
    }
    return true;
}

bool HttpProxy::bindAndListen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    // A port left in TIME_WAIT by the previous capture is free to bind again.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, kListenAddress, &local.sin_addr);
    int port = configuredPort;
    const int lastPort = configuredPort == 0 ? 0 : configuredPort + kPortSearchLength - 1;
    for (;;) {
        local.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            break;
        const int error = errno;
        if (error == EADDRINUSE && port < lastPort && port < 65535) {
            ++port;
            continue;
        }
        ::close(fd);
        setLastError(error == EADDRINUSE ? kErrorNoFreePort : std::uint32_t(error));
        return false;
    }
    if (::listen(fd, SOMAXCONN) != 0) {
        setLastErrorFromErrno();
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    address_ = kListenAddress;
    port_ = ntohs(local.sin_port);
    listenSocket = fd;
    return true;
}

void HttpProxy::closeListenSocket() {
    if (listenSocket >= 0) {
        ::shutdown(listenSocket, SHUT_RDWR);
        ::close(listenSocket);
        listenSocket = -1;
    }
}

void HttpProxy::stop() {
    stopping = true;
    // Shutting the socket down wakes the blocked accept; it is closed only
    // once the accept thread is gone, so its number cannot be reused under it.
    if (listenSocket >= 0)
        ::shutdown(listenSocket, SHUT_RDWR);
    acceptThread.join();
    closeListenSocket();
    for (auto& connection : connections)
        connection->close();
    connections.clear();
    owners_.reset();
    {
        std::lock_guard guard(cacheLock_);
        addressCache.clear();
    }
    filter = nullptr;
    if (settingsApplied_) {
        settingsApplied_ = false;
        // Failures here cannot be reported to anyone who could act on them.
        SystemProxy::restore(settings, address_ + ":" + std::to_string(port_));
    }
}

void HttpProxy::run() {
    while (!stopping) {
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int client =
            ::accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: a waiting client makes room, or the
                // loop gives the connections a moment to end.
                if (!dropLongestWaiting()) {
                    std::unique_lock lock(endedLock_);
                    ended_.wait_for(lock, std::chrono::milliseconds(10));
                }
            }
            continue;
        }
        int context = 0;
        if (filter)
            context = filter->acceptConnection(reinterpret_cast<sockaddr*>(&peer), int(peerLength));
        if (context == -1) {
            ::close(client);
            continue;
        }
        HttpConnection* connection = freeConnection();
        if (!connection) {
            ::close(client);
            continue;
        }
        connection->close();
        connection->clientSocket = client;
        connection->idle = false;
        connection->context = context;
        connection->filter = filter;
        if (!connection->thread.start(connection, &HttpConnection::run)) {
            connection->idle = true;
            connection->clientSocket = -1;
            connection->context = -1;
            connection->filter = nullptr;
            ::close(client);
        }
    }
}

// A pooled connection for a new client. At the cap, the client that has
// waited longest for its next request is let go (browsers open a new
// connection when they need one); when every client has a request under way,
// the new one waits for the first to end. Null when stopping.
HttpConnection* HttpProxy::freeConnection() {
    bool dropped = false;
    while (!stopping) {
        for (auto& candidate : connections) {
            if (candidate->idle)
                return candidate.get();
        }
        if (connections.size() < connectionCap_)
            return connections.emplace_back(std::make_unique<HttpConnection>(this)).get();
        if (!dropped)
            dropped = dropLongestWaiting();
        std::unique_lock lock(endedLock_);
        ended_.wait_for(lock, std::chrono::milliseconds(100), [&] {
            for (auto& candidate : connections) {
                if (candidate->idle)
                    return true;
            }
            return false;
        });
    }
    return nullptr;
}

bool HttpProxy::dropLongestWaiting() {
    HttpConnection* longest = nullptr;
    std::int64_t since = 0;
    for (auto& candidate : connections) {
        const std::int64_t waiting = candidate->waitingSince;
        if (!candidate->idle && waiting != 0 && (since == 0 || waiting < since)) {
            longest = candidate.get();
            since = waiting;
        }
    }
    return longest && longest->dropIfWaiting(since);
}

void HttpProxy::connectionEnded() {
    // Under the lock, so that the accept thread cannot miss it between its
    // look at the pool and its wait.
    std::lock_guard lock(endedLock_);
    ended_.notify_all();
}

bool HttpProxy::servesClient(int socket, std::uint32_t& owner) const {
    if (!owners_ || !owners_->peerOwner(socket, owner)) {
        owner = kUnknownOwner;
        return false;
    }
    return owner == ::geteuid();
}

std::string HttpProxy::newViaToken() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[40];
    for (;;) {
        std::snprintf(text, sizeof text, "1.1 tidewell-%016llx",
                      static_cast<unsigned long long>(random()));
        std::lock_guard guard(viaLock_);
        if (viaTokens_.insert(text).second)
            return text;
    }
}

void HttpProxy::forgetViaToken(const std::string& token) {
    std::lock_guard guard(viaLock_);
    viaTokens_.erase(token);
}

bool HttpProxy::carriesOurVia(const HttpMessageHeader& header) const {
    std::lock_guard guard(viaLock_);
    if (viaTokens_.empty())
        return false;
    for (const auto& field : header.fields) {
        if (!equalsIgnoreCase(field.name, "Via"))
            continue;
        for (const std::string& item : splitList(field.value, ','))
            if (viaTokens_.count(item.substr(0, item.find(' ', 4))))
                return true;
    }
    return false;
}

// Connection threads ask these while the proxy runs; port_ does not change
// then.
bool HttpProxy::isListener(std::string_view host, int port) const {
    if (port != port_)
        return false;
    if (isLoopbackName(host) || host == address_)
        return true;
    sockaddr_storage address{};
    return numericAddress(host, address) && isLoopbackAddress(address);
}

bool HttpProxy::isListener(const ResolvedAddress& address) const {
    return portOf(address.address) == port_ && isLoopbackAddress(address.address);
}

bool HttpProxy::route(const std::string& host, int port, std::string& targetHost, int& targetPort,
                      bool& viaUpstream, bool tunnel) const {
    std::string target;
    // A tunnel goes where the user's settings send https.
    viaUpstream =
        settings.upstreamFor(tunnel ? "https" : "http", host, hostPortText(host, port), target);
    if (!viaUpstream) {
        targetHost = host;
        targetPort = port;
        return true;
    }
    std::int32_t upstreamPort = port;
    std::string upstreamHost;
    if (!target.empty() && target.front() == '[') {
        // [v6]:port: splitHostPort would cut inside the address.
        const auto close = target.find(']');
        if (close == std::string::npos) {
            setLastError(kErrorHostUnknown);
            return false;
        }
        upstreamHost = target.substr(1, close - 1);
        const std::string rest = target.substr(close + 1);
        std::string none;
        if (!rest.empty() && (rest[0] != ':' || !splitHostPort(rest, none, upstreamPort))) {
            setLastError(kErrorHostUnknown);
            return false;
        }
    } else if (!splitHostPort(target, upstreamHost, upstreamPort)) {
        setLastError(kErrorHostUnknown);
        return false;
    }
    if (upstreamHost.empty() || upstreamPort <= 0 || upstreamPort > 65535) {
        setLastError(kErrorHostUnknown);
        return false;
    }
    targetHost = upstreamHost;
    targetPort = upstreamPort;
    return true;
}

bool HttpProxy::resolve(const std::string& host, int port, std::vector<ResolvedAddress>& addresses,
                        bool& viaUpstream, bool tunnel) {
    std::string targetHost;
    int targetPort = port;
    if (!route(host, port, targetHost, targetPort, viaUpstream, tunnel))
        return false;
    const std::string key = lowerAscii(targetHost + ":" + std::to_string(targetPort));
    {
        std::lock_guard guard(cacheLock_);
        const auto found = addressCache.find(key);
        if (found != addressCache.end()) {
            addresses = found->second;
            return true;
        }
    }
    // Looked up outside the lock: one slow name must not hold up the others.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(targetPort);
    const int result = ::getaddrinfo(targetHost.c_str(), service.c_str(), &hints, &list);
    if (result != 0) {
        setLastError(result == EAI_SYSTEM && errno != 0 ? std::uint32_t(errno) : kErrorHostUnknown);
        return false;
    }
    std::vector<ResolvedAddress> found;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        ResolvedAddress resolved;
        std::memcpy(&resolved.address, entry->ai_addr, entry->ai_addrlen);
        resolved.length = entry->ai_addrlen;
        resolved.family = entry->ai_family;
        found.push_back(resolved);
    }
    ::freeaddrinfo(list);
    if (found.empty()) {
        setLastError(kErrorHostUnknown);
        return false;
    }
    std::lock_guard guard(cacheLock_);
    addresses = addressCache.try_emplace(key, std::move(found)).first->second;
    return true;
}
