#include "engine/Tunnel.h"

#include "engine/HttpMessageHeader.h"
#include "engine/HttpProxy.h"
#include "engine/HttpsInterceptor.h"
#include "engine/Platform.h"
#include "engine/SystemCall.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBufferSize = 65536;
// A pipe this large moves a bulk transfer in a third fewer system calls than
// the default one. The kernel counts pipe space per user: a tunnel holds its
// pipes only while bytes flow (see kReleaseAfterMs).
constexpr int kPipeSize = 1 << 18;
// A tunnel quiet this long gives its pipes back; the next bytes get new ones.
constexpr int kReleaseAfterMs = 1000;
// The filter hears of the counts at most this often, or per this many bytes.
constexpr auto kReportInterval = std::chrono::milliseconds(100);
constexpr std::int64_t kReportBytes = 1 << 20;

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// One direction: bytes from one socket wait in a pipe (moved by splice, never
// copied through this process) or, when no pipe can be had or the filter
// follows what passes, in a buffer.
class Pump {
public:
    Pump(int from, int to, std::string_view early) : from(from), to(to), early_(early) {}

    // Every byte delivered is shown to the filter's upgradeData.
    void follow(HttpFilter* filter, int handle, bool fromClient) {
        follower_ = filter;
        handle_ = handle;
        fromClient_ = fromClient;
    }
    ~Pump() { release(); }
    Pump(const Pump&) = delete;
    Pump& operator=(const Pump&) = delete;

    bool wantsRead() const { return !ended && (!holding() || queued_ < capacity_); }
    bool wantsWrite() const { return !early_.empty() || queued_ > 0; }
    // The source ended and everything it sent has gone out.
    bool drained() const { return ended && !wantsWrite(); }
    bool holding() const { return pipe_[0] >= 0 || buffer_; }

    // Takes what the source has. False on a failure (last error set).
    bool fill() {
        if (!holding())
            hold();
        const std::size_t room = capacity_ - queued_;
        const ssize_t n =
            pipe_[1] >= 0
                ? retryInterrupted([&] {
                      return ::splice(from, nullptr, pipe_[1], nullptr, room,
                                      SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
                  })
                : retryInterrupted([&] { return ::recv(from, buffer_.get() + queued_, room, 0); });
        if (n > 0)
            queued_ += std::size_t(n);
        else if (n == 0)
            ended = true;
        else if (!wouldBlock())
            return failed();
        return true;
    }

    // Hands on what waits. False on a failure (last error set).
    bool drain() {
        while (!early_.empty()) {
            const ssize_t n = retryInterrupted([&] {
                return ::send(to, early_.data(), early_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            });
            if (n < 0)
                return wouldBlock() || failed();
            delivered(early_.data(), n);
            early_.erase(0, std::size_t(n));
            moved += n;
        }
        while (queued_ > 0) {
            const ssize_t n = pipe_[0] >= 0 ? retryInterrupted([&] {
                return ::splice(pipe_[0], nullptr, to, nullptr, queued_,
                                SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            })
                                            : retryInterrupted([&] {
                                                  return ::send(to, buffer_.get(), queued_,
                                                                MSG_NOSIGNAL | MSG_DONTWAIT);
                                              });
            if (n < 0)
                return wouldBlock() || failed();
            if (pipe_[0] < 0) {
                delivered(buffer_.get(), n);
                std::memmove(buffer_.get(), buffer_.get() + n, queued_ - std::size_t(n));
            }
            queued_ -= std::size_t(n);
            moved += n;
        }
        return true;
    }

    // Gives back the pipe or buffer when nothing waits in it.
    void release() {
        if (queued_ > 0)
            return;
        for (int& fd : pipe_) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        buffer_.reset();
    }

    const int from;
    const int to;
    bool ended = false;  // the source sent its end of stream
    bool passed = false; // and the end was passed on
    std::int64_t moved = 0;

private:
    void delivered(const char* bytes, ssize_t count) {
        if (follower_)
            follower_->upgradeData(handle_, fromClient_, bytes, int(count));
    }
    void hold() {
        int fds[2];
        if (!follower_ && ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            pipe_[0] = fds[0];
            pipe_[1] = fds[1];
            ::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize); // the default size will do otherwise
            const int size = ::fcntl(fds[1], F_GETPIPE_SZ);
            capacity_ = size > 0 ? std::size_t(size) : 4096;
        } else {
            buffer_ = std::make_unique<char[]>(kBufferSize);
            capacity_ = kBufferSize;
        }
    }
    static bool failed() {
        setLastErrorFromErrno();
        return false;
    }

    std::string early_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t queued_ = 0;
    HttpFilter* follower_ = nullptr;
    int handle_ = -1;
    bool fromClient_ = false;
};

} // namespace

void TunnelProgress::update(std::int64_t up, std::int64_t down, bool always) {
    const std::int64_t newUp = up - reportedUp_;
    const std::int64_t newDown = down - reportedDown_;
    if (newUp == 0 && newDown == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!always && newUp + newDown < kReportBytes && now - last_ < kReportInterval)
        return;
    if (filter_ && handle_ != -1)
        filter_->tunnelData(handle_, newUp, newDown, TunnelEnd::Open);
    reportedUp_ = up;
    reportedDown_ = down;
    last_ = now;
}

std::uint32_t Tunnel::run(std::string_view fromClient, std::string_view fromServer) {
    setNonBlocking(client_);
    setNonBlocking(server_);
    Pump up(client_, server_, fromClient);
    Pump down(server_, client_, fromServer);
    if (follow && filter_ && handle_ != -1) {
        up.follow(filter_, handle_, true);
        down.follow(filter_, handle_, false);
    }
    TunnelProgress progress(filter_, handle_);
    auto report = [&](bool always) { progress.update(up.moved, down.moved, always); };

    std::uint32_t error = 0;
    auto lastActive = std::chrono::steady_clock::now();
    for (;;) {
        for (Pump* pump : {&up, &down}) {
            if (pump->drained() && !pump->passed) {
                ::shutdown(pump->to, SHUT_WR);
                pump->passed = true;
                pump->release();
                if (closedFirst == TunnelEnd::Open)
                    closedFirst = pump == &up ? TunnelEnd::ClientClosed : TunnelEnd::ServerClosed;
            }
        }
        if (up.passed && down.passed)
            break;
        // A socket with nothing to wait for stays out of the set: a peer that
        // hung up would otherwise wake every wait at once.
        const short clientEvents =
            short((up.wantsRead() ? POLLIN : 0) | (down.wantsWrite() ? POLLOUT : 0));
        const short serverEvents =
            short((down.wantsRead() ? POLLIN : 0) | (up.wantsWrite() ? POLLOUT : 0));
        pollfd waits[2] = {{clientEvents ? client_ : -1, clientEvents, 0},
                           {serverEvents ? server_ : -1, serverEvents, 0}};
        const bool halfClosed = up.passed || down.passed;
        const int timeout = up.holding() || down.holding() ? kReleaseAfterMs
                            : halfClosed                   ? kIdleLimitMs
                                                           : -1;
        const int ready = retryInterrupted([&] { return ::poll(waits, 2, timeout); });
        if (ready < 0) {
            error = std::uint32_t(errno);
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (ready == 0) {
            up.release();
            down.release();
            // One side is done and the other has nothing more to say: that
            // is an end, not a failure.
            if (halfClosed && now - lastActive >= std::chrono::milliseconds(kIdleLimitMs))
                break;
            continue;
        }
        lastActive = now;
        bool ok = true;
        for (Pump* pump : {&up, &down}) {
            const short fromReady =
                short((pump == &up ? waits[0] : waits[1]).revents & (POLLIN | POLLHUP | POLLERR));
            const short toReady =
                short((pump == &up ? waits[1] : waits[0]).revents & (POLLOUT | POLLHUP | POLLERR));
            bool filled = false;
            if (fromReady && pump->wantsRead()) {
                ok = pump->fill();
                filled = ok;
            }
            // Freshly read bytes usually go straight out, without another wait.
            if (ok && pump->wantsWrite() && (toReady || filled))
                ok = pump->drain();
            if (!ok)
                break;
        }
        if (!ok) {
            error = lastError();
            break;
        }
        report(false);
    }
    report(true);
    toServer = up.moved;
    toClient = down.moved;
    return error;
}

namespace {

// What the client opened the tunnel with, when it spoke first: a TLS
// handshake record, or (whole in its first bytes) a WebSocket handshake, as
// browsers send ws:// through a proxy. A server that speaks first (a
// greeting) makes it some other protocol; so does anything else, which is
// carried unread.
enum class Opening { Other, TlsHello, WebSocketHandshake };

bool isWebSocketHandshake(std::string_view bytes) {
    const std::size_t end = bytes.find("\r\n\r\n");
    HttpRequestHeader head;
    if (end == std::string_view::npos ||
        !parseRequestHeader(bytes.data(), std::int32_t(end + 2), head) ||
        !equalsIgnoreCase(head.method, "GET") || !head.version.starts_with("HTTP/1."))
        return false;
    for (const HttpHeaderField& field : head.fields)
        if (equalsIgnoreCase(field.name, "Upgrade"))
            for (const std::string& token : splitList(field.value, ','))
                if (equalsIgnoreCase(token, "websocket"))
                    return true;
    return false;
}

Opening classify(std::string_view first) {
    constexpr char kHandshakeRecord = 0x16;
    if (!first.empty() && first.front() == kHandshakeRecord)
        return Opening::TlsHello;
    return isWebSocketHandshake(first) ? Opening::WebSocketHandshake : Opening::Other;
}

Opening clientOpening(const ConnectedTunnel& connected) {
    if (!connected.fromServer.empty())
        return Opening::Other;
    if (!connected.fromClient.empty())
        return classify(connected.fromClient);
    pollfd waits[2] = {{connected.clientSocket, POLLIN, 0}, {connected.serverSocket, POLLIN, 0}};
    const int ready = retryInterrupted([&] { return ::poll(waits, 2, Tunnel::kIdleLimitMs); });
    if (ready <= 0 || waits[1].revents || !waits[0].revents)
        return Opening::Other;
    char first[16384];
    const ssize_t n = retryInterrupted(
        [&] { return ::recv(connected.clientSocket, first, sizeof first, MSG_PEEK); });
    return n > 0 ? classify(std::string_view(first, std::size_t(n))) : Opening::Other;
}

// A ClientHello is a few hundred bytes, two or three thousand with large key
// shares; one past this is not read whole.
constexpr std::size_t kMaxClientHello = 65536;
// How long a client that began its hello may take to finish it.
constexpr int kClientHelloMs = 30000;

// The client's first handshake message, gathered from its records before
// anything is answered. `raw` holds what was read already and receives every
// byte read (to go on as it came, whatever is decided); `message` the
// message without its record framing. False when the bytes are not TLS
// handshake records, the message would be longer than kMaxClientHello, or
// the client went quiet or away before it was whole.
bool readClientHello(int socket, std::string& raw, std::string& message) {
    constexpr unsigned char kHandshake = 0x16;
    constexpr std::size_t kHeader = 5;
    constexpr std::size_t kMaxRecord = 16384 + 2048;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kClientHelloMs);
    std::size_t parsed = 0; // raw bytes whose records are in `message`
    message.clear();
    for (;;) {
        // Every whole record read so far.
        while (raw.size() - parsed >= kHeader) {
            const auto* header = reinterpret_cast<const unsigned char*>(raw.data() + parsed);
            const std::size_t length = std::size_t(header[3]) << 8 | header[4];
            if (header[0] != kHandshake || header[1] != 3 || length == 0 || length > kMaxRecord)
                return false;
            if (raw.size() - parsed - kHeader < length)
                break;
            message.append(raw, parsed + kHeader, length);
            parsed += kHeader + length;
        }
        if (message.size() >= 4) {
            const auto* head = reinterpret_cast<const unsigned char*>(message.data());
            const std::size_t wanted =
                4 + (std::size_t(head[1]) << 16 | std::size_t(head[2]) << 8 | head[3]);
            if (wanted > kMaxClientHello)
                return false;
            if (message.size() >= wanted) {
                message.resize(wanted);
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{socket, POLLIN, 0};
        if (left.count() <= 0 ||
            retryInterrupted([&] { return ::poll(&wait, 1, int(left.count())); }) <= 0)
            return false;
        char buffer[16384];
        const ssize_t n =
            retryInterrupted([&] { return ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT); });
        if (n == 0 || (n < 0 && !wouldBlock()))
            return false;
        if (n > 0)
            raw.append(buffer, std::size_t(n));
    }
}

} // namespace

TunnelOutcome carryConnect(const ConnectedTunnel& connected) {
    HttpsInterceptor* https = connected.proxy ? connected.proxy->https.get() : nullptr;
    std::string fromClient(connected.fromClient);
    const bool mayDecrypt =
        https && connected.decrypted && https->shouldDecrypt(connected.host, connected.port);
    const bool mayRelay = connected.plain && connected.filter && connected.handle != -1;
    const Opening opening = mayDecrypt || mayRelay ? clientOpening(connected) : Opening::Other;
    if (mayDecrypt && opening == Opening::TlsHello) {
        // The server name the hello asks for decides as well as the CONNECT
        // host: a client may ask the tunnel for one host and TLS for another.
        std::string hello;
        if (readClientHello(connected.clientSocket, fromClient, hello) &&
            !https->passesThrough(hello)) {
            std::string name;
            std::string detail;
            std::unique_ptr<SecureStream> client = https->acceptClient(
                connected.clientSocket, connected.host, fromClient, name, detail);
            if (!client)
                return {lastError(), TunnelEnd::Open};
            return connected.decrypted(std::move(client), name);
        }
    }
    if (mayRelay && opening == Opening::WebSocketHandshake)
        return connected.plain(connected.fromClient);
    Tunnel tunnel(connected.clientSocket, connected.serverSocket, connected.filter,
                  connected.handle);
    TunnelOutcome outcome;
    outcome.error = tunnel.run(fromClient, connected.fromServer);
    outcome.end = tunnel.closedFirst;
    return outcome;
}
