#include "engine/HttpConnection.h"

#include "engine/ExchangeTimings.h"
#include "engine/HttpFilter.h"
#include "engine/HttpMessageHeader.h"
#include "engine/HttpProxy.h"
#include "engine/HttpReader.h"
#include "engine/HttpsInterceptor.h"
#include "engine/LingeringClose.h"
#include "engine/Platform.h"
#include "engine/SecureTunnel.h"
#include "engine/SocketStream.h"
#include "engine/SystemCall.h"
#include "engine/Text.h"
#include "engine/Tunnel.h"
#include "engine/Url.h"
#include "resources/StringTable.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Another user's program gets less of our time after its refusal.
constexpr LingerLimits kLingerAfterRefusal{std::chrono::seconds(2), std::chrono::seconds(2), 65536};
// The Server field of the proxy's own pages, which tells them apart.
constexpr const char* kPageServer = "Tidewell";
constexpr int kSocketBufferSize = 1 << 20;
constexpr std::int32_t kRelayBufferSize = 65536;
constexpr std::int32_t kRelayBufferIncrement = 4096;

void setSocketTimeouts(int fd, std::chrono::milliseconds wait) {
    const timeval timeout{time_t(wait.count() / 1000), suseconds_t(wait.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

void applySocketOptions(int fd, std::chrono::milliseconds wait) {
    setSocketTimeouts(fd, wait);
    const int size = kSocketBufferSize;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    // A head and its body go out in separate sends; without this the second
    // waits for the peer's delayed acknowledgement.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// "[v6]" or "[v6]:port"; false when the text is not of that form.
bool splitBracketed(std::string_view text, std::string& host, std::int32_t& port) {
    const auto close = text.find(']');
    if (text.empty() || text.front() != '[' || close == std::string_view::npos)
        return false;
    std::int32_t value = port;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !parseInt32(rest.substr(1), value)))
        return false;
    host = std::string(text.substr(1, close - 1));
    port = value;
    return true;
}

// The body rule: a positive length, else chunked framing when no length is
// given; a request without either has no body.
enum class Body { None, Length, Chunked, UntilClose };

Body requestBody(const HttpRequestHeader& request) {
    const std::int64_t length = request.contentLength();
    if (length > 0)
        return Body::Length;
    if (length == -1 && request.isChunked())
        return Body::Chunked;
    return Body::None;
}

// A response that may carry a body but frames it neither way ends where the
// origin closes the connection.
Body responseBody(const HttpRequestHeader& request, const HttpResponseHeader& response) {
    const int status = response.statusCode;
    if (equalsIgnoreCase(request.method, "HEAD") || (status >= 100 && status <= 199) ||
        status == 204 || status == 304)
        return Body::None;
    const std::int64_t length = response.contentLength();
    if (length > 0)
        return Body::Length;
    if (length == -1)
        return response.isChunked() ? Body::Chunked : Body::UntilClose;
    return Body::None;
}

// A request body the origin could frame otherwise than we do (RFC 9112,
// 6.3): it would wait for bytes that never come, or read the rest as another
// request that nobody sees. Every Content-Length must be the same plain
// number, and none may stand beside a Transfer-Encoding.
bool framingIsClear(const HttpRequestHeader& request) {
    bool seen = false;
    std::int64_t length = 0;
    for (const auto& field : request.fields) {
        if (!equalsIgnoreCase(field.name, "Content-Length"))
            continue;
        for (const auto& item : splitList(field.value, ',')) {
            std::int64_t value = 0;
            const bool digits =
                !item.empty() && item.find_first_not_of("0123456789") == std::string::npos;
            if (!digits ||
                parseInteger(item, 10, 0, std::numeric_limits<std::int64_t>::max(), value) !=
                    item.size() ||
                value == std::numeric_limits<std::int64_t>::max() || (seen && value != length))
                return false;
            seen = true;
            length = value;
        }
    }
    return !seen || !request.get("Transfer-Encoding");
}

// A short page of ours answering with `status`: `text`, escaped, in a small
// HTML body, behind a head that closes the connection.
void makePage(int status, const char* reason, std::string_view text, HttpResponseHeader& head,
              std::string& body) {
    std::string escaped;
    for (const char ch : text) {
        switch (ch) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '&':
            escaped += "&amp;";
            break;
        default:
            escaped += ch;
        }
    }
    body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + formatInt(status) +
           " " + reason + "</title></head>\n<body><p>" + escaped + "</p></body></html>\n";
    head = HttpResponseHeader();
    head.version = "HTTP/1.1";
    head.statusCode = status;
    head.reason = reason;
    head.set("Server", kPageServer, false);
    head.set("Content-Type", "text/html; charset=utf-8", false);
    head.set("Content-Length", formatInt(std::int64_t(body.size())), false);
    head.set("Connection", "close", false);
}

// A wait for the origin that ran out, as opposed to a refusal or a failure.
bool isTimeout(std::uint32_t code) {
    return code == ETIMEDOUT || code == EAGAIN || code == EWOULDBLOCK ||
           code == kErrorConnectTimeout || code == kErrorNoAnswer || code == kErrorHandshakeTimeout;
}

// Why a connection to an origin failed, in the user's terms where we have them.
std::uint32_t connectError(int error) {
    if (error == ECONNREFUSED)
        return kErrorConnectionRefused;
    if (error == ETIMEDOUT)
        return kErrorConnectTimeout;
    return std::uint32_t(error);
}

// Why an origin's answer did not come, in the user's terms.
std::uint32_t noAnswerReason(std::uint32_t code) {
    if (code == ETIMEDOUT || code == EAGAIN || code == EWOULDBLOCK)
        return kErrorNoAnswer;
    if (code == kErrorDataIncomplete || code == ECONNRESET || code == EPIPE)
        return kErrorOriginClosed;
    return code;
}

// A request line that can be relayed as it stands: a method that is a token,
// a target without white space or control characters, and an HTTP/x.y
// version. Anything else ("GET /a /b HTTP/1.1", a NUL in the target) would
// reach the origin as something other than what the client meant.
bool requestLineIsSound(const HttpRequestHeader& request) {
    if (request.method.empty() || request.target.empty())
        return false;
    for (const char ch : request.method) {
        const bool token = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                           (ch >= '0' && ch <= '9') ||
                           std::string_view("!#$%&'*+-.^_`|~").find(ch) != std::string_view::npos;
        if (!token)
            return false;
    }
    for (const char ch : request.target) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte == 0x7F)
            return false;
    }
    const std::string_view version = request.version;
    return version.size() == 8 && equalsIgnoreCase(version.substr(0, 5), "HTTP/") &&
           version[5] >= '0' && version[5] <= '9' && version[6] == '.' && version[7] >= '0' &&
           version[7] <= '9';
}

// "HTTP/2.0", "HTTP/3" and later: a protocol this relay does not speak.
bool isHttp2OrLater(std::string_view version) {
    return version.size() >= 6 && version.substr(0, 5) == "HTTP/" && version[5] >= '2' &&
           version[5] <= '9';
}

// RFC 9110, 9.2.2: sending these twice has the effect of sending them once.
bool isIdempotent(std::string_view method) {
    for (const char* idempotent : {"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"})
        if (equalsIgnoreCase(method, idempotent))
            return true;
    return false;
}

// An origin connection idle for longer may be closed by the origin just as a
// request goes out; a request that must not be sent twice does not take that
// chance.
constexpr auto kSafeIdle = std::chrono::seconds(1);

bool hasToken(const HttpMessageHeader& header, std::string_view name, std::string_view token) {
    for (const auto& field : header.fields) {
        if (!equalsIgnoreCase(field.name, name))
            continue;
        for (const auto& item : splitList(field.value, ','))
            if (equalsIgnoreCase(item, token))
                return true;
    }
    return false;
}

} // namespace

// The Via entry of the request a relay has out. It stays ours while that
// exchange runs, so that the request is recognised if it comes round again.
class OutgoingVia {
public:
    explicit OutgoingVia(HttpProxy& proxy) : proxy_(proxy) {}
    ~OutgoingVia() { release(); }
    OutgoingVia(const OutgoingVia&) = delete;
    OutgoingVia& operator=(const OutgoingVia&) = delete;

    const std::string& renew() {
        release();
        token_ = proxy_.newViaToken();
        return token_;
    }
    void release() {
        if (!token_.empty())
            proxy_.forgetViaToken(token_);
        token_.clear();
    }

private:
    HttpProxy& proxy_;
    std::string token_;
};

// The state of one run of the relay, local to the connection's thread. A
// decrypted CONNECT tunnel runs a second one over the two TLS ends.
class Relay {
public:
    explicit Relay(HttpConnection& connection)
        : c(connection), clientStream(connection.clientSocket), serverStream(-1),
          clientReader(&clientStream, kRelayBufferSize, kRelayBufferIncrement),
          serverReader(&serverStream, kRelayBufferSize, kRelayBufferIncrement),
          writer(nullptr, kRelayBufferSize, kRelayBufferIncrement), via(*connection.proxy) {}
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    void run() {
        applySocketOptions(c.clientSocket, timeouts.socket);
        std::uint32_t owner = HttpProxy::kUnknownOwner;
        if (c.proxy->servesClient(c.clientSocket, owner)) {
            while (exchange()) {
            }
        } else {
            refuseUser(owner);
        }
        end();
    }

private:
    bool exchange();
    bool awaitRequest();
    bool findHost();
    bool connectTunnel();
    bool connectServer(bool tunnel = false);
    bool connectTo(int fd, const ResolvedAddress& address);
    int openServerSocket(int family);
    void closeServer();
    bool serverStillUsable();
    bool sendRequest(bool& reused, bool idempotent, int& attempts);
    bool readFinalResponse(bool reused, bool bodySent, int& attempts, bool& retry);
    bool sendResponseHead(Body& body);
    bool awaitContinue(bool& finalArrived);
    bool copyBody(Body body, std::int64_t length, OutputStream& sink, HttpReader& reader);
    void writeError(int status, std::string_view reason);
    void answerLoop();
    void refuseUser(std::uint32_t owner);
    void sendPage(int status, const char* reason, std::string_view text);
    bool relayRefusal(Body body);
    bool relayEarlyAnswer();
    void endTunnel(TunnelOutcome outcome);
    std::string_view unread(const HttpReader& reader) const {
        return {reader.buffer.data, std::size_t(reader.buffer.length)};
    }
    void endExchange(std::uint32_t code) {
        if (handle != -1 && c.filter) {
            clock.timings.end = clock.offset();
            c.filter->exchangeTimings(handle, clock.timings);
            c.filter->endExchange(handle, code);
        }
    }
    // The response head goes to the filter, with the timings so far; false
    // from it stops following the exchange.
    void beginResponse() {
        if (handle == -1)
            return;
        c.filter->exchangeTimings(handle, clock.timings);
        if (!c.filter->beginResponse(handle, response))
            handle = -1;
    }
    // A response head from the origin, its first byte's time noted.
    bool readResponseHead(HttpResponseHeader& head) {
        const bool waiting = serverReader.buffer.length == 0;
        serverReader.arrival = {};
        if (!serverReader.readResponseHeader(head))
            return false;
        if (clock.timings.firstByte < 0)
            clock.timings.firstByte =
                waiting && serverReader.arrival != ExchangeClock::Clock::time_point{}
                    ? clock.offset(serverReader.arrival)
                    : clock.offset();
        return true;
    }
    void end();

    // Inside a decrypted tunnel.
    TunnelOutcome relayDecrypted(std::unique_ptr<SecureStream> client, const std::string& name);
    TunnelOutcome relayPlain(std::string_view fromClient);
    void tunnelledRequest();
    bool secureOrigin(std::string_view early, bool fresh);
    void answerBadGateway();
    void answerPage(int status, const char* reason, std::string_view text, std::uint32_t error);
    void answerFailure(std::uint32_t error);
    void beginRequest() {
        handle = c.filter ? c.filter->beginRequest(c.context, request) : -1;
        begun = true;
    }
    template <typename Sink> Sink sinkTo(SocketStream& socket, SecureStream* secure) {
        return secure ? Sink(*secure, c.filter, handle)
                      : Sink(socket.socketHandle(), c.filter, handle);
    }
    bool hasBuffered(const SecureStream* secure) const {
        return secure && secure->hasBufferedInput();
    }

    HttpConnection& c;
    const RelayTimeouts timeouts = c.proxy->timeouts;
    SocketStream clientStream;
    SocketStream serverStream;
    // Where bytes go to and come from: the socket streams, or the TLS ends
    // of a decrypted tunnel.
    Stream* clientIo = &clientStream;
    Stream* serverIo = &serverStream;
    std::unique_ptr<SecureStream> secureClient;
    std::unique_ptr<SecureStream> secureServer;
    bool decrypting = false;
    // Inside a CONNECT tunnel (decrypted, or plain HTTP): requests go to the
    // tunnel's target whatever they name, and the client speaks to it as to
    // the origin.
    bool tunnelled = false;
    // The name the origin of a decrypted tunnel must prove, and why it did
    // not when it failed.
    std::string originName;
    std::uint32_t originError = 0;
    std::string originDetail;
    // One reader per side, so that bytes a client sent after a request (its
    // next request, pipelined) wait for the next exchange.
    HttpReader clientReader;
    HttpReader serverReader;
    HttpWriter writer;
    OutgoingVia via;
    HttpRequestHeader request;
    HttpResponseHeader response;
    Url url;

    std::string host;
    std::int32_t port = 80;
    std::string userInfo;
    bool viaUpstream = false;
    bool keepAlive = false;
    int handle = -1;
    ExchangeClock clock;
    // The TLS handshake with the origin of a decrypted tunnel, made before
    // its first request arrived: that request's connection setup.
    ExchangeClock::Clock::time_point setupStart;
    std::int64_t setupTls = -1;
    bool firstRequest = true;
    // The filter has heard of the current exchange (its handle may still be
    // -1: not followed).
    bool begun = false;
    // The client may still be sending the request being answered (its head
    // or body was not read to the end): the connection closes lingering.
    bool requestUnread = false;
    LingerLimits lingerLimits;

    // Where the open server connection goes, and whether the last response
    // left it fit for the next request.
    std::string serverKey;
    bool serverReusable = false;
    std::chrono::steady_clock::time_point serverIdleSince;
};

void HttpConnection::run() {
    // A tunnel splices into sockets, which raise SIGPIPE when the peer has
    // gone; on this thread that is an error code, never the end of the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    {
        Relay relay(*this);
        relay.run();
    }
    waitingSince = 0;
    idle = true;
    proxy->connectionEnded();
}

bool HttpConnection::dropIfWaiting(std::int64_t since) {
    std::lock_guard guard(lock);
    if (since == 0 || waitingSince != since || clientSocket < 0)
        return false;
    waitingSince = 0;
    ::shutdown(clientSocket, SHUT_RDWR);
    return true;
}

void Relay::writeError(int status, std::string_view reason) {
    // Whatever a failed write left behind must not precede the answer.
    writer.buffer.length = 0;
    writer.sink = clientIo;
    // The failure being answered is what the filter hears, not this write's.
    const std::uint32_t code = lastError();
    writer.writeErrorResponse(status, reason, "HTTP/1.1");
    setLastError(code);
}

// A request aimed at the proxy itself (or that came round again) would be
// relayed to us without end: refused with a page that says why.
void Relay::answerLoop() {
    sendPage(508, "Loop Detected", loadString(IDS_LOOP_REFUSED));
}

// A page of ours that nobody captures.
void Relay::sendPage(int status, const char* reason, std::string_view text) {
    HttpResponseHeader head;
    std::string body;
    makePage(status, reason, text, head, body);
    writer.buffer.length = 0;
    writer.sink = clientIo;
    if (appendResponseHeader(writer.buffer, head) &&
        writer.buffer.append(body.data(), std::int32_t(body.size())))
        writer.flush();
}

// The proxy serves its own user alone: another user's program is refused
// before anything it sent is read, captured or relayed. The answer goes out
// whole, and what the client still sends meanwhile is taken in and dropped,
// so that its kernel hears no reset before the client has read the answer.
void Relay::refuseUser(std::uint32_t owner) {
    sendPage(403, "Forbidden", loadString(IDS_OWN_USER_ONLY));
    if (c.filter && owner != HttpProxy::kUnknownOwner)
        c.filter->userRefused(owner);
    requestUnread = true;
    lingerLimits = kLingerAfterRefusal;
}

bool Relay::findHost() {
    url = Url();
    url.parse(request.target);
    port = 80;
    userInfo.clear();
    host.clear();
    // An https (or ftp) address sent as plain HTTP to port 80 would carry in
    // clear what the client meant to encrypt; https comes as CONNECT.
    if ((url.flags & Url::HasScheme) && !equalsIgnoreCase(url.scheme, "http") &&
        !equalsIgnoreCase(url.scheme, "ws"))
        return false;
    if (url.flags & Url::HasAuthority) {
        // Credentials in the address would be sent on to the origin.
        if (url.authority.find('@') != std::string::npos)
            return false;
        if (!url.splitAuthority(userInfo, host, port)) {
            const auto at = url.authority.find('@');
            const std::string_view hostPart = at == std::string::npos
                                                  ? std::string_view(url.authority)
                                                  : std::string_view(url.authority).substr(at + 1);
            if (!splitBracketed(hostPart, host, port))
                return false;
            userInfo = at == std::string::npos ? std::string() : url.authority.substr(0, at);
        }
    } else {
        const HttpHeaderField* field = request.get("Host");
        if (!field)
            return false;
        if (!splitBracketed(field->value, host, port) && !splitHostPort(field->value, host, port))
            return false;
    }
    return !host.empty() && port > 0 && port <= 65535;
}

int Relay::openServerSocket(int family) {
    std::lock_guard guard(c.lock);
    if (c.closing_) {
        setLastError(ECANCELED);
        return -1;
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    c.serverSocket = fd;
    return fd;
}

void Relay::closeServer() {
    std::lock_guard guard(c.lock);
    if (c.serverSocket >= 0) {
        ::close(c.serverSocket);
        c.serverSocket = -1;
    }
    serverStream.setSocketHandle(-1);
    secureServer.reset();
    serverIo = &serverStream;
    serverReader.source = serverIo;
    serverReader.buffer.length = 0;
    serverReusable = false;
}

// Blocking connect that close() can interrupt: it shuts the socket down,
// which ends a connect under way. The connect starts under the lock, so a
// close() that came first is seen here instead.
bool Relay::connectTo(int fd, const ResolvedAddress& address) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    bool pending = false;
    {
        std::lock_guard guard(c.lock);
        if (c.closing_) {
            setLastError(ECANCELED);
            return false;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) !=
            0) {
            if (errno != EINPROGRESS) {
                setLastError(connectError(errno));
                return false;
            }
            pending = true;
        }
    }
    if (pending) {
        pollfd wait{fd, POLLOUT, 0};
        const int ready =
            retryInterrupted([&] { return ::poll(&wait, 1, int(timeouts.connect.count())); });
        if (ready <= 0) {
            setLastError(ready == 0 ? kErrorConnectTimeout : std::uint32_t(errno));
            return false;
        }
        {
            std::lock_guard guard(c.lock);
            if (c.closing_) {
                setLastError(ECANCELED);
                return false;
            }
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            setLastError(connectError(error));
            return false;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return true;
}

bool Relay::connectServer(bool tunnel) {
    tunnel = tunnel || tunnelled;
    closeServer();
    std::vector<ResolvedAddress> addresses;
    bool upstream = false;
    const auto resolving = ExchangeClock::Clock::now();
    const bool resolved = c.proxy->resolve(host, port, addresses, upstream, tunnel);
    const std::uint32_t resolveError = resolved ? 0 : lastError();
    clock.timings.dns = clock.since(resolving);
    if (!resolved) {
        answerFailure(resolveError == kErrorHostUnknown ? kErrorNameLookup : resolveError);
        return false;
    }
    viaUpstream = upstream;
    // A name that leads back to our own listener (or an upstream that is us).
    for (const ResolvedAddress& address : addresses) {
        if (c.proxy->isListener(address)) {
            answerLoop();
            return false;
        }
    }
    // Every address in the resolver's order (IPv6 and IPv4), until one answers.
    const auto connecting = ExchangeClock::Clock::now();
    for (const ResolvedAddress& address : addresses) {
        const int fd = openServerSocket(address.family);
        if (fd < 0) {
            if (lastError() != ECANCELED)
                answerPage(500, "Internal Server Error", errorText(lastError()), lastError());
            return false;
        }
        applySocketOptions(fd, timeouts.socket);
        if (connectTo(fd, address)) {
            serverStream.setSocketHandle(fd);
            if (decrypting) {
                const auto handshake = ExchangeClock::Clock::now();
                if (!secureOrigin({}, true)) {
                    answerBadGateway();
                    return false;
                }
                clock.timings.tls = clock.since(handshake);
            }
            clock.timings.connect = clock.since(connecting);
            clock.timings.connected = clock.offset();
            return true;
        }
        const std::uint32_t error = lastError();
        closeServer();
        setLastError(error);
    }
    if (lastError() != ECANCELED)
        answerFailure(lastError());
    return false;
}

// An idle origin connection that has become readable was closed by the origin
// (or sent bytes nobody asked for): it cannot carry another request.
bool Relay::serverStillUsable() {
    if (hasBuffered(secureServer.get()))
        return false;
    const int fd = serverStream.socketHandle();
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 0) == 0)
        return true;
    if (!secureServer)
        return false;
    // TLS origins send housekeeping of their own after the handshake
    // (session tickets): taken in without waiting, it leaves nothing to read.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    char probe;
    const std::int32_t n = secureServer->readSome(&probe, 1);
    ::fcntl(fd, F_SETFL, flags);
    return n == SecureStream::kWouldBlock;
}

bool Relay::copyBody(Body body, std::int64_t length, OutputStream& sink, HttpReader& reader) {
    switch (body) {
    case Body::None:
        return true;
    case Body::Length:
        return reader.copyBody(sink, length);
    case Body::Chunked:
        return reader.copyChunkedBody(sink);
    case Body::UntilClose:
        if (reader.copyBody(sink, std::numeric_limits<std::int64_t>::max()))
            return true;
        // The end of the stream is the end of this body.
        return lastError() == kErrorDataIncomplete && sink.flush();
    }
    return false;
}

// Waits for the first byte of the client's next request. False when the
// client closed, stayed silent for the idle time, or was let go to make room
// for a new client: the connection then ends without an answer.
bool Relay::awaitRequest() {
    if (clientReader.buffer.length > 0 || hasBuffered(secureClient.get()))
        return true;
    pollfd wait{clientStream.socketHandle(), POLLIN, 0};
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    c.waitingSince = std::max<std::int64_t>(now, 1);
    const int ready =
        retryInterrupted([&] { return ::poll(&wait, 1, int(timeouts.idleClient.count())); });
    c.waitingSince = 0;
    return ready > 0;
}

bool Relay::exchange() {
    request = HttpRequestHeader();
    handle = -1;
    begun = false;
    requestUnread = false;
    if (!awaitRequest())
        return false;
    requestUnread = true;
    if (!tunnelled && firstRequest) {
        // A TLS handshake sent where HTTP is expected (a client told to use
        // an https proxy) would otherwise wait for a head that never comes.
        char first = 0;
        if (::recv(clientStream.socketHandle(), &first, 1, MSG_PEEK) == 1 && first == 0x16) {
            writeError(400, "Bad Request");
            return false;
        }
    }
    firstRequest = false;
    // Once a request has begun, its head must come whole in good time.
    setSocketTimeouts(clientStream.socketHandle(), timeouts.requestHead);
    const bool headRead = clientReader.readRequestHeader(request);
    setSocketTimeouts(clientStream.socketHandle(), timeouts.socket);
    if (!headRead) {
        // A head too long or malformed gets an answer; a client that went
        // away does not.
        if (lastError() == kErrorHeadTooLong || lastError() == kErrorInvalidData)
            writeError(400, "Bad Request");
        return false;
    }
    clock.start();
    if (c.proxy->carriesOurVia(request)) {
        answerLoop();
        return false;
    }
    if (isHttp2OrLater(request.version)) {
        // The HTTP/2 preface ("PRI * HTTP/2.0") of a client that assumed
        // HTTP/2 without asking: nothing on this connection can be read.
        if (tunnelled)
            tunnelledRequest();
        answerPage(505, "HTTP Version Not Supported", loadString(IDS_HTTP_VERSION_PAGE),
                   kErrorHttpVersion);
        return false;
    }
    if (!requestLineIsSound(request)) {
        writeError(400, "Bad Request");
        return false;
    }
    if (equalsIgnoreCase(request.method, "CONNECT")) {
        if (!tunnelled)
            return connectTunnel();
        writeError(405, "Method Not Allowed");
        return false;
    }
    if (!framingIsClear(request)) {
        writeError(400, "Bad Request");
        return false;
    }
    if (tunnelled) {
        tunnelledRequest();
        if (url.authority.find('@') != std::string::npos) {
            writeError(400, "Bad Request");
            return false;
        }
        if (originError != 0) {
            answerBadGateway();
            return false;
        }
    } else if (!findHost()) {
        writeError(400, "Bad Request");
        return false;
    }
    if (c.proxy->isListener(host, port)) {
        answerLoop();
        return false;
    }

    // Reuse the open origin connection when it goes to the same place.
    std::string targetHost;
    int targetPort = port;
    bool upstream = false;
    if (!c.proxy->route(host, port, targetHost, targetPort, upstream, tunnelled)) {
        answerFailure(lastError());
        return false;
    }
    const std::string key =
        (upstream ? "u " : "d ") + bracketed(targetHost) + ":" + std::to_string(targetPort);
    const bool idempotent = isIdempotent(request.method);
    bool reused = serverReusable && key == serverKey &&
                  (idempotent || std::chrono::steady_clock::now() - serverIdleSince < kSafeIdle) &&
                  serverStillUsable();
    if (!reused) {
        if (!connectServer(tunnelled))
            return false;
    } else {
        viaUpstream = upstream;
        if (setupTls >= 0) {
            clock.start(setupStart);
            clock.timings.connect = clock.timings.tls = setupTls;
        }
        clock.timings.connected = clock.offset();
    }
    setupTls = -1;
    serverReusable = false;
    serverKey = key;

    keepAlive = false;
    const HttpHeaderField* proxyConnection = request.get("Proxy-Connection");
    if (tunnelled) {
        // Inside the tunnel the client speaks to the origin itself.
        keepAlive =
            !hasToken(request, "Connection", "close") &&
            (request.version == "HTTP/1.1" || hasToken(request, "Connection", "keep-alive"));
    } else if (proxyConnection && equalsIgnoreCase(proxyConnection->value, "keep-alive")) {
        keepAlive = true;
        if (!viaUpstream) {
            request.remove("Proxy-Connection");
            request.set("Connection", "keep-alive", false);
        }
    }

    beginRequest();

    // A decrypted request goes to its origin through the tunnel, as the client
    // sent it, whichever way the tunnel runs.
    if (!viaUpstream || tunnelled) {
        if (!tunnelled)
            request.set("Host",
                        port == 80 ? bracketed(host) : bracketed(host) + ":" + formatInt(port),
                        true);
        if (userInfo.empty()) {
            url.scheme.clear();
            url.authority.clear();
            url.flags &= ~std::uint32_t(Url::HasScheme | Url::HasAuthority);
            // "http://host?q" has no path; origin form needs at least "/".
            if (url.path.empty() && !request.target.empty() && request.target.front() != '/' &&
                request.target.front() != '?' && request.target.front() != '#')
                url.path = "/";
        }
        request.target = url.toString();
    }
    // What comes back to us carrying this is a loop.
    request.set("Via", via.renew(), false);

    const Body body = requestBody(request);
    int attempts = 0;
    // A client that asked to hear "100 Continue" first may hold its body back
    // until then (or give up waiting after a while).
    const bool expectsContinue = body != Body::None && hasToken(request, "Expect", "100-continue");
    bool bodyUnsent = false;
    for (;;) {
        if (!sendRequest(reused, idempotent, attempts))
            return false;
        clock.timings.sent = clock.offset();
        if (expectsContinue && clientReader.buffer.length == 0) {
            if (!awaitContinue(bodyUnsent))
                return false;
            if (bodyUnsent)
                break;
        }
        auto requestSink = sinkTo<HttpRequestDataOutputStream>(serverStream, secureServer.get());
        requestSink.watchForAnswerMs = int(timeouts.socket.count());
        if (!copyBody(body, request.contentLength(), requestSink, clientReader)) {
            const std::uint32_t code = lastError();
            if (code == kErrorBadChunk) {
                // The client's framing broke after the head went out: the
                // origin would wait for a body that cannot end right, so its
                // connection goes, and the client hears why.
                closeServer();
                answerPage(400, "Bad Request", errorText(code), code);
                return false;
            }
            // An origin that broke the upload without a word (a reset may even
            // overtake an answer it sent): the client hears why, not silence.
            if (!relayEarlyAnswer()) {
                if (requestSink.failed())
                    answerFailure(noAnswerReason(code));
                else
                    endExchange(code);
            }
            return false;
        }
        clock.timings.sent = clock.offset();
        requestUnread = false;
        bool retry = false;
        if (readFinalResponse(reused && idempotent, body != Body::None, attempts, retry))
            break;
        if (!retry)
            return false;
        reused = false;
    }

    beginResponse();
    const Body responseRule = responseBody(request, response);
    Body rest = responseRule;
    if (!sendResponseHead(rest))
        return false;
    if (response.statusCode == 101 && request.get("Upgrade")) {
        // The connection now speaks the protocol the client asked for.
        TunnelOutcome outcome;
        if (decrypting && secureServer) {
            SecureTunnel tunnel(*secureClient, clientStream.socketHandle(), *secureServer,
                                serverStream.socketHandle(), c.filter, handle);
            tunnel.follow = handle != -1 && c.filter->followsUpgrade(handle);
            outcome.error = tunnel.run(unread(clientReader), unread(serverReader));
            outcome.end = tunnel.closedFirst;
        } else {
            Tunnel tunnel(clientStream.socketHandle(), serverStream.socketHandle(), c.filter,
                          handle);
            tunnel.follow = handle != -1 && c.filter->followsUpgrade(handle);
            outcome.error = tunnel.run(unread(clientReader), unread(serverReader));
            outcome.end = tunnel.closedFirst;
        }
        endTunnel(outcome);
        return false;
    }
    auto responseSink = sinkTo<HttpResponseDataOutputStream>(clientStream, secureClient.get());
    if (!copyBody(rest, response.contentLength(), responseSink, serverReader)) {
        endExchange(lastError());
        return false;
    }
    endExchange(0);

    // The origin answered without the body, which is still on its way from
    // the client: neither connection can carry another exchange.
    if (bodyUnsent) {
        closeServer();
        return false;
    }
    const bool switching = response.statusCode == 101;
    const bool originCloses = hasToken(response, "Connection", "close");
    serverReusable =
        responseRule != Body::UntilClose && !switching && !originCloses &&
        serverReader.buffer.length == 0 &&
        (response.version == "HTTP/1.1" || hasToken(response, "Connection", "keep-alive"));
    if (serverReusable)
        serverIdleSince = std::chrono::steady_clock::now();
    else
        closeServer();
    const HttpHeaderField* connection = response.get("Connection");
    if (connection && equalsIgnoreCase(connection->value, "close"))
        return false;
    // After a body that ended with the origin's close, or a change of
    // protocol, the client could not tell where the next response starts.
    return keepAlive && responseRule != Body::UntilClose && !switching;
}

// An origin that will not take the body (413, 401) may answer before it and
// close, which breaks the upload: that answer is what the client must hear.
// False when the origin has said nothing; the exchange has ended otherwise.
bool Relay::relayEarlyAnswer() {
    pollfd wait{serverStream.socketHandle(), POLLIN, 0};
    if (!hasBuffered(secureServer.get()) && (::poll(&wait, 1, 0) != 1 || !(wait.revents & POLLIN)))
        return false;
    int attempts = 2; // no second try: the body is gone
    bool retry = false;
    if (!readFinalResponse(false, true, attempts, retry))
        return true;
    beginResponse();
    Body rest = responseBody(request, response);
    if (!sendResponseHead(rest))
        return true;
    auto responseSink = sinkTo<HttpResponseDataOutputStream>(clientStream, secureClient.get());
    endExchange(copyBody(rest, response.contentLength(), responseSink, serverReader) ? 0
                                                                                     : lastError());
    return true;
}

// CONNECT host:port: the target (or the user's proxy for https, which gets
// the client's own head) is connected, the client hears 2xx, and from then on
// the bytes are carried, not read.
bool Relay::connectTunnel() {
    // A CONNECT has no body: what follows it belongs to the tunnel.
    requestUnread = false;
    host.clear();
    std::int32_t targetPort = -1;
    if ((!splitBracketed(request.target, host, targetPort) &&
         !splitHostPort(request.target, host, targetPort)) ||
        host.empty() || targetPort <= 0 || targetPort > 65535) {
        writeError(400, "Bad Request");
        return false;
    }
    port = targetPort;
    if (c.proxy->isListener(host, port)) {
        answerLoop();
        return false;
    }
    if (!connectServer(true))
        return false;
    beginRequest();
    response = HttpResponseHeader();
    if (viaUpstream) {
        request.set("Via", via.renew(), false);
        writer.buffer.length = 0;
        writer.sink = serverIo;
        const bool sent = writer.writeRequestHeader(request);
        if (sent)
            clock.timings.sent = clock.offset();
        if (!sent || !readResponseHead(response)) {
            answerFailure(noAnswerReason(lastError()));
            return false;
        }
        if (response.statusCode < 200 || response.statusCode > 299)
            return relayRefusal(responseBody(request, response));
    } else {
        response.version = "HTTP/1.1";
        response.statusCode = 200;
        response.reason = "Connection established";
        // Answered here, as soon as the target was connected.
        clock.timings.sent = clock.timings.firstByte = clock.offset();
    }
    beginResponse();
    writer.buffer.length = 0;
    writer.sink = clientIo;
    if (!writer.writeResponseHeader(response)) {
        endExchange(lastError());
        return false;
    }
    const ConnectedTunnel tunnel{
        clientStream.socketHandle(),
        serverStream.socketHandle(),
        host,
        port,
        unread(clientReader),
        unread(serverReader),
        c.filter,
        c.context,
        handle,
        c.proxy,
        [this](std::unique_ptr<SecureStream> client, const std::string& name) {
            return relayDecrypted(std::move(client), name);
        },
        [this](std::string_view fromClient) { return relayPlain(fromClient); }};
    endTunnel(carryConnect(tunnel));
    return false;
}

// The upstream proxy refused the CONNECT (a 407 asks for the user's
// credentials): its answer goes back whole and the connection ends.
bool Relay::relayRefusal(Body body) {
    beginResponse();
    if (!sendResponseHead(body))
        return false;
    auto sink = sinkTo<HttpResponseDataOutputStream>(clientStream, secureClient.get());
    if (!copyBody(body, response.contentLength(), sink, serverReader)) {
        endExchange(lastError());
        return false;
    }
    endExchange(0);
    return false;
}

// The exchanges inside a decrypted tunnel, by a relay of their own over the
// client's TLS and a TLS connection to the tunnel's target made here, on the
// connection the tunnel already opened (through the user's proxy when it
// goes that way). Each is captured as https://host/path.
TunnelOutcome Relay::relayDecrypted(std::unique_ptr<SecureStream> client, const std::string& name) {
    Relay inner(c);
    inner.decrypting = true;
    inner.tunnelled = true;
    inner.host = host;
    inner.port = port;
    // The origin proves the name the client asked for, as it would have to
    // the client; without one, the host the tunnel was opened for.
    inner.originName = name.empty() ? host : name;
    inner.secureClient = std::move(client);
    inner.clientIo = inner.secureClient.get();
    inner.clientReader.source = inner.clientIo;
    inner.viaUpstream = viaUpstream;
    inner.serverStream.setSocketHandle(serverStream.socketHandle());
    std::string targetHost;
    int targetPort = port;
    bool upstream = false;
    if (c.proxy->route(host, port, targetHost, targetPort, upstream, true))
        inner.serverKey =
            (upstream ? "u " : "d ") + bracketed(targetHost) + ":" + std::to_string(targetPort);
    const auto handshake = ExchangeClock::Clock::now();
    if (inner.secureOrigin(unread(serverReader), false)) {
        inner.setupStart = handshake;
        inner.setupTls = inner.clock.since(handshake);
        inner.serverReusable = true;
        inner.serverIdleSince = std::chrono::steady_clock::now();
    }
    serverReader.buffer.length = 0;
    while (inner.exchange()) {
    }
    inner.secureClient->closeNotify();
    requestUnread = inner.requestUnread || inner.clientReader.buffer.length > 0 ||
                    inner.secureClient->hasBufferedInput();
    return {0, TunnelEnd::ClientClosed};
}

// Plain HTTP inside a CONNECT tunnel (browsers send ws:// through a proxy
// this way): a relay of its own on the tunnel's two connections, as for a
// decrypted one. Each exchange is captured as http://host/path.
TunnelOutcome Relay::relayPlain(std::string_view fromClient) {
    Relay inner(c);
    inner.tunnelled = true;
    inner.host = host;
    inner.port = port;
    inner.viaUpstream = viaUpstream;
    inner.serverStream.setSocketHandle(serverStream.socketHandle());
    if (!inner.clientReader.buffer.append(fromClient.data(), std::int32_t(fromClient.size())) ||
        !inner.serverReader.buffer.append(serverReader.buffer.data, serverReader.buffer.length))
        return {lastError(), TunnelEnd::Open};
    serverReader.buffer.length = 0;
    std::string targetHost;
    int targetPort = port;
    bool upstream = false;
    if (c.proxy->route(host, port, targetHost, targetPort, upstream, true)) {
        inner.serverKey =
            (upstream ? "u " : "d ") + bracketed(targetHost) + ":" + std::to_string(targetPort);
        inner.serverReusable = true;
        inner.serverIdleSince = std::chrono::steady_clock::now();
    }
    while (inner.exchange()) {
    }
    return {0, TunnelEnd::ClientClosed};
}

// The request as the capture keeps it: its absolute address (the Host the
// client named, else the tunnel's target), while the relay goes to the
// tunnel's target whatever the request says.
void Relay::tunnelledRequest() {
    userInfo.clear();
    url = Url();
    url.parse(request.target);
    if (!(url.flags & Url::HasAuthority)) {
        const HttpHeaderField* field = request.get("Host");
        const int usual = decrypting ? 443 : 80;
        const std::string authority =
            field && !field->value.empty()
                ? field->value
                : (port == usual ? bracketed(host) : bracketed(host) + ":" + formatInt(port));
        request.target = (decrypting ? "https://" : "http://") + authority +
                         (request.target.empty() || request.target.front() != '/' ? "/" : "") +
                         request.target;
        url = Url();
        url.parse(request.target);
    }
}

// TLS to the origin over the server socket just connected; a `fresh`
// connection to the user's proxy gets our CONNECT first. On failure the
// reason is kept for the client's 502 page.
bool Relay::secureOrigin(std::string_view early, bool fresh) {
    originError = 0;
    originDetail.clear();
    HttpsInterceptor* https = c.proxy->https.get();
    const int fd = serverStream.socketHandle();
    std::string buffered(early);
    if (viaUpstream && fresh) {
        HttpRequestHeader connect;
        connect.method = "CONNECT";
        connect.target = bracketed(host) + ":" + formatInt(port);
        connect.version = "HTTP/1.1";
        connect.set("Host", connect.target, false);
        connect.set("Via", via.renew(), false);
        HttpResponseHeader answer;
        writer.buffer.length = 0;
        writer.sink = &serverStream;
        serverReader.source = &serverStream;
        if (!writer.writeRequestHeader(connect) || !serverReader.readResponseHeader(answer)) {
            originError = lastError();
            originDetail = errorText(originError);
            return false;
        }
        if (answer.statusCode < 200 || answer.statusCode > 299) {
            originError = kErrorTunnelRefused;
            originDetail = formatInt(answer.statusCode) + " " + answer.reason;
            return false;
        }
        buffered = std::string(unread(serverReader));
        serverReader.buffer.length = 0;
    }
    // An origin that takes the connection and then says nothing is given
    // up on sooner than a slow answer.
    setSocketTimeouts(fd, timeouts.originHandshake);
    secureServer = https ? https->connectOrigin(fd, originName, buffered, originDetail) : nullptr;
    const std::uint32_t handshakeError = lastError();
    setSocketTimeouts(fd, timeouts.socket);
    if (!secureServer) {
        originError = isTimeout(handshakeError) ? kErrorHandshakeTimeout : handshakeError;
        return false;
    }
    serverIo = secureServer.get();
    serverReader.source = serverIo;
    serverReader.buffer.length = 0;
    return true;
}

// The origin did not prove who it is (or could not be reached through the
// tunnel): the client gets a page naming the reason, never the origin's
// bytes, and the exchange is captured as failed.
void Relay::answerBadGateway() {
    char text[2048];
    std::snprintf(text, sizeof text, loadString(IDS_HTTPS_BAD_GATEWAY), originName.c_str(),
                  errorText(originError).c_str(), originDetail.c_str());
    if (isTimeout(originError))
        answerPage(504, "Gateway Timeout", text, originError);
    else
        answerPage(502, "Bad Gateway", text, originError);
}

// The origin could not be reached or did not answer: the client gets a page
// naming the host and the reason (504 when a wait ran out, 502 otherwise), and
// the exchange is listed as failed with that reason.
void Relay::answerFailure(std::uint32_t error) {
    const bool defaultPort =
        port == (decrypting ? 443 : 80) && !equalsIgnoreCase(request.method, "CONNECT");
    const std::string where = bracketed(host) + (defaultPort ? "" : ":" + formatInt(port));
    char text[2048];
    std::snprintf(text, sizeof text, loadString(IDS_ORIGIN_FAILED_PAGE), where.c_str(),
                  errorText(error).c_str());
    if (isTimeout(error))
        answerPage(504, "Gateway Timeout", text, error);
    else
        answerPage(502, "Bad Gateway", text, error);
}

// A page of ours in place of an answer from the origin, captured as the
// exchange's response; the exchange fails with `error`.
void Relay::answerPage(int status, const char* reason, std::string_view text, std::uint32_t error) {
    std::string body;
    makePage(status, reason, text, response, body);
    if (!begun)
        beginRequest();
    beginResponse();
    writer.buffer.length = 0;
    writer.sink = clientIo;
    if (!appendResponseHeader(writer.buffer, response) || !writer.flush()) {
        endExchange(lastError());
        return;
    }
    auto sink = sinkTo<HttpResponseDataOutputStream>(clientStream, secureClient.get());
    sink.write(body.data(), std::int32_t(body.size()));
    endExchange(error);
}

void Relay::endTunnel(TunnelOutcome outcome) {
    {
        std::lock_guard guard(c.lock);
        if (c.closing_)
            outcome = {0, TunnelEnd::Stopped};
    }
    if (handle != -1) {
        c.filter->tunnelData(handle, 0, 0, outcome.end);
        endExchange(outcome.error);
    }
}

// Waits for whichever side speaks first: the client with its body (true), or
// the origin with interim answers, which are forwarded until "100 Continue"
// (true) or a final response, left in `response` (true, finalArrived).
bool Relay::awaitContinue(bool& finalArrived) {
    finalArrived = false;
    for (;;) {
        if (hasBuffered(secureClient.get()))
            return true;
        pollfd waits[2] = {{clientStream.socketHandle(), POLLIN, 0},
                           {serverStream.socketHandle(), POLLIN, 0}};
        const int ready = hasBuffered(secureServer.get()) ? 1 : retryInterrupted([&] {
            return ::poll(waits, 2, int(timeouts.socket.count()));
        });
        if (ready <= 0) {
            answerFailure(ready == 0 ? kErrorNoAnswer : std::uint32_t(errno));
            return false;
        }
        if (waits[0].revents)
            return true;
        response = HttpResponseHeader();
        if (!readResponseHead(response)) {
            answerFailure(noAnswerReason(lastError()));
            return false;
        }
        const int status = response.statusCode;
        if (status < 100 || status > 199 || status == 101) {
            finalArrived = true;
            return true;
        }
        writer.sink = clientIo;
        if (!writer.writeResponseHeader(response)) {
            endExchange(lastError());
            return false;
        }
        if (status == 100)
            return true;
    }
}

// The head, and with it a body that has already arrived whole, in one send:
// small responses then cost the client one segment instead of two.
bool Relay::sendResponseHead(Body& body) {
    writer.buffer.length = 0;
    writer.sink = clientIo;
    if (!appendResponseHeader(writer.buffer, response)) {
        endExchange(lastError());
        return false;
    }
    const std::int64_t length = response.contentLength();
    const bool withBody =
        body == Body::Length && length <= serverReader.buffer.length && length <= kRelayBufferSize;
    const std::int32_t bodyLength = withBody ? std::int32_t(length) : 0;
    if (withBody) {
        if (!writer.buffer.append(serverReader.buffer.data, bodyLength)) {
            endExchange(lastError());
            return false;
        }
    }
    if (!writer.flush()) {
        writer.buffer.length = 0;
        endExchange(lastError());
        return false;
    }
    if (withBody) {
        if (handle != -1)
            c.filter->responseData(handle, serverReader.buffer.data, bodyLength);
        serverReader.buffer.consume(bodyLength);
        body = Body::None;
    }
    return true;
}

bool Relay::sendRequest(bool& reused, bool idempotent, int& attempts) {
    for (;;) {
        ++attempts;
        writer.buffer.length = 0;
        writer.sink = serverIo;
        if (writer.writeRequestHeader(request))
            return true;
        const std::uint32_t code = lastError();
        if (reused && idempotent && attempts == 1) {
            // The origin dropped the idle connection just now; one fresh try.
            reused = false;
            if (connectServer())
                continue;
            return false;
        }
        answerFailure(noAnswerReason(code));
        return false;
    }
}

bool Relay::readFinalResponse(bool reused, bool bodySent, int& attempts, bool& retry) {
    for (;;) {
        response = HttpResponseHeader();
        if (!readResponseHead(response)) {
            const std::uint32_t code = lastError();
            // Nothing at all came back over a reused connection: the origin
            // closed it as the request went out. Sent once more only when
            // that cannot do it twice (`reused` is false for other methods)
            // and no client body was consumed.
            if (reused && !bodySent && attempts == 1 && serverReader.buffer.length == 0 &&
                (code == kErrorDataIncomplete || code == ECONNRESET || code == EPIPE)) {
                if (connectServer()) {
                    retry = true;
                    return false;
                }
                return false;
            }
            answerFailure(noAnswerReason(code));
            return false;
        }
        const int status = response.statusCode;
        if (status < 100 || status > 199 || status == 101)
            return true;
        // Interim answers (100 Continue, 103 Early Hints) go to the client as
        // they come; the final response of the exchange follows.
        writer.sink = clientIo;
        if (!writer.writeResponseHeader(response)) {
            endExchange(lastError());
            return false;
        }
    }
}

void Relay::end() {
    bool linger = false;
    {
        std::lock_guard guard(c.lock);
        linger = !c.closing_ && c.clientSocket >= 0;
    }
    if (linger) {
        int pending = 0;
        linger = requestUnread || clientReader.buffer.length > 0 ||
                 (::ioctl(c.clientSocket, FIONREAD, &pending) == 0 && pending > 0);
    }
    // The socket is ours until the lock below closes it: close() only shuts
    // it down, which ends the lingering at once.
    if (linger)
        lingerBeforeClose(c.clientSocket, lingerLimits);
    {
        std::lock_guard guard(c.lock);
        for (int* fd : {&c.clientSocket, &c.serverSocket}) {
            if (*fd >= 0) {
                ::shutdown(*fd, SHUT_RDWR);
                ::close(*fd);
                *fd = -1;
            }
        }
    }
    if (c.filter)
        c.filter->connectionClosed(c.context);
}

bool isProxyPage(const HttpResponseHeader& response) {
    const HttpHeaderField* server = response.get("Server");
    return server && server->value == kPageServer;
}

HttpConnection::HttpConnection(HttpProxy* owner) : proxy(owner) {}

HttpConnection::~HttpConnection() {
    close();
}

void HttpConnection::close() {
    {
        std::lock_guard guard(lock);
        closing_ = true;
        // Shut down, not closed: the relay may be blocked on these numbers, and
        // a closed number could be handed to another socket before it returns.
        for (int fd : {clientSocket, serverSocket}) {
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
        }
    }
    thread.join();
    {
        std::lock_guard guard(lock);
        for (int* fd : {&clientSocket, &serverSocket}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
        closing_ = false;
    }
    context = -1;
    filter = nullptr;
}
