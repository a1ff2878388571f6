// The local HTTP proxy server: the listener on 127.0.0.1, its accept thread,
// the pool of connections, name resolution with a cache, and the choice
// between the origin and the user's upstream proxy.
#pragma once

#include "engine/Platform.h"
#include "engine/Thread.h"
#include "sysproxy/ProxySettings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unordered_set>
#include <vector>

class HttpConnection;
class HttpFilter;
class SocketOwners;
class HttpMessageHeader;
class HttpsInterceptor;

// Raises this process's soft limit on open files to its hard limit: desktops
// start programs with 1,024, which a thousand clients (two sockets each)
// exceed. start() calls it.
void raiseOpenFileLimit();

// Whether a Tidewell listener answers at host:port (a loopback name or
// address only; nothing else is ever dialled): settings that point there must
// not be taken for the user's own. Waits at most `timeoutMs`.
bool isTidewellListener(const std::string& host, int port, int timeoutMs = 1000);

// No port was free from the first one tried up to kPortSearchLength above it.
constexpr std::uint32_t kErrorNoFreePort = customError(420);

// One address a name resolved to, ready for connect().
struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = 0;
};

// How long a relay waits for a peer. Fixed for users; tests shorten them so
// that a timeout is seen in moments.
struct RelayTimeouts {
    // A send or receive under way: an origin's answer, either side's body.
    std::chrono::milliseconds socket{180000};
    // Connecting to an origin (or to the user's proxy).
    std::chrono::milliseconds connect{180000};
    // The TLS handshake with an origin that accepted the connection.
    std::chrono::milliseconds originHandshake{30000};
    // A client's request head, once its first byte has come.
    std::chrono::milliseconds requestHead{30000};
    // A client connection with no request under way; browsers open another
    // when they need one.
    std::chrono::milliseconds idleClient{60000};
};

class HttpProxy {
public:
    static constexpr int kDefaultPort = 2861;
    static constexpr int kPortSearchLength = 100;
    static constexpr const char* kListenAddress = "127.0.0.1";

    HttpProxy();
    virtual ~HttpProxy();
    HttpProxy(const HttpProxy&) = delete;
    HttpProxy& operator=(const HttpProxy&) = delete;

    // Listens, starts the accept thread and (with manageSystemSettings) points
    // the user's proxy settings at the listener. True at once when already
    // listening. False with the reason in lastError(); nothing stays changed.
    bool start(HttpFilter* filter);
    // Ends every connection, joins every thread and (with
    // manageSystemSettings) writes the user's settings back. Never call it
    // from the accept or a connection thread.
    void stop();
    // The accept loop (accept thread).
    void run();

    // Where a request for host:port goes: the addresses of the upstream proxy
    // (viaUpstream true) or of the host itself, IPv4 and IPv6 in the
    // resolver's order. `tunnel` asks for the proxy the user's settings give
    // https (a CONNECT). False with kErrorHostUnknown (or the resolver's
    // system error) when there is none. Connection threads call it at once.
    bool resolve(const std::string& host, int port, std::vector<ResolvedAddress>& addresses,
                 bool& viaUpstream, bool tunnel = false);
    // The same without the lookup: the host and port a connection goes to.
    bool route(const std::string& host, int port, std::string& targetHost, int& targetPort,
               bool& viaUpstream, bool tunnel = false) const;

    // Whether the client connected on `socket` is a program of the user this
    // proxy runs for (the effective uid; root is no exception either way).
    // `owner` receives the client's uid, or kUnknownOwner when the kernel
    // could not say, which is refused as well.
    static constexpr std::uint32_t kUnknownOwner = 0xFFFFFFFF;
    bool servesClient(int socket, std::uint32_t& owner) const;

    // Whether host:port names this listener: any loopback name or address (or
    // the unspecified one, which reaches it too) with our port. Relaying
    // there would loop.
    bool isListener(std::string_view host, int port) const;
    bool isListener(const ResolvedAddress& address) const;
    // A Via entry for one request going out, "1.1 tidewell-<random>", known
    // as ours until it is forgotten: a request that comes in carrying one has
    // come round to us again. New for every request, so that it tells
    // origins nothing that would link a user's requests to each other.
    std::string newViaToken();
    void forgetViaToken(const std::string& token);
    // Whether a Via field of `header` holds a token of ours still in use.
    bool carriesOurVia(const HttpMessageHeader& header) const;

    const std::string& address() const { return address_; }
    int port() const { return port_; }
    bool listening() const { return listenSocket >= 0; }

    // First port tried; 0 asks the system for any free port (tests).
    int configuredPort = kDefaultPort;
    // False: start neither reads nor changes the user's proxy settings and
    // stop writes nothing back; `settings` is whatever the caller put there
    // (tests and benchmarks use it to give an upstream proxy).
    bool manageSystemSettings = true;
    // The user's settings as they were when capturing started (never
    // entries of a Tidewell listener): what stop writes back and what routing
    // consults.
    ProxySettings settings;
    // Set before start.
    RelayTimeouts timeouts;
    // How many clients are relayed at once (a thread and up to two
    // descriptors each); 0: as many as the open-file limit leaves room for,
    // at most kMaxConnections. At the cap, the client that has waited longest
    // for its next request is let go for a new one. Set before start.
    static constexpr std::size_t kMaxConnections = 1024;
    std::size_t maxConnections = 0;
    // A connection thread's relay has ended (its connection thread).
    void connectionEnded();
    // Decides whether a CONNECT tunnel is decrypted; none: every tunnel is
    // only relayed. Set before start.
    std::shared_ptr<HttpsInterceptor> https;

private:
    bool bindAndListen();
    HttpConnection* freeConnection();
    bool dropLongestWaiting();
    void closeListenSocket();

    // Asks who owns each client; made by start, gone after stop.
    std::unique_ptr<SocketOwners> owners_;
    mutable std::mutex viaLock_;
    std::unordered_set<std::string> viaTokens_;
    int listenSocket = -1;
    Thread acceptThread;
    int port_ = kDefaultPort;
    std::string address_;
    std::atomic<bool> stopping{true};
    std::vector<std::unique_ptr<HttpConnection>> connections;
    std::size_t connectionCap_ = kMaxConnections;
    std::mutex endedLock_;
    std::condition_variable ended_;
    HttpFilter* filter = nullptr;
    bool settingsApplied_ = false;

    // Keyed by lower-case "host:port"; a name that resolved once is not looked
    // up again until stop. Connection threads share it.
    mutable std::mutex cacheLock_;
    std::map<std::string, std::vector<ResolvedAddress>> addressCache;
};
