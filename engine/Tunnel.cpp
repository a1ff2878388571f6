#include "engine/Tunnel.h"

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
// copied through this process) or, when no pipe can be had, in a buffer.
class Pump {
public:
    Pump(int from, int to, std::string_view early) : from(from), to(to), early_(early) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            pipe_[0] = fds[0];
            pipe_[1] = fds[1];
            const int size = ::fcntl(fds[1], F_GETPIPE_SZ);
            capacity_ = size > 0 ? std::size_t(size) : 4096;
        } else {
            buffer_ = std::make_unique<char[]>(kBufferSize);
            capacity_ = kBufferSize;
        }
    }
    ~Pump() {
        for (int fd : pipe_)
            if (fd >= 0)
                ::close(fd);
    }
    Pump(const Pump&) = delete;
    Pump& operator=(const Pump&) = delete;

    bool wantsRead() const { return !ended && queued_ < capacity_; }
    bool wantsWrite() const { return !early_.empty() || queued_ > 0; }
    // The source ended and everything it sent has gone out.
    bool drained() const { return ended && !wantsWrite(); }

    // Takes what the source has. False on a failure (last error set).
    bool fill() {
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
            if (pipe_[0] < 0)
                std::memmove(buffer_.get(), buffer_.get() + n, queued_ - std::size_t(n));
            queued_ -= std::size_t(n);
            moved += n;
        }
        return true;
    }

    const int from;
    const int to;
    bool ended = false;  // the source sent its end of stream
    bool passed = false; // and the end was passed on
    std::int64_t moved = 0;

private:
    static bool failed() {
        setLastErrorFromErrno();
        return false;
    }

    std::string early_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t queued_ = 0;
};

} // namespace

std::uint32_t Tunnel::run(std::string_view fromClient, std::string_view fromServer) {
    setNonBlocking(client_);
    setNonBlocking(server_);
    Pump up(client_, server_, fromClient);
    Pump down(server_, client_, fromServer);
    std::int64_t reportedUp = 0;
    std::int64_t reportedDown = 0;
    auto lastReport = std::chrono::steady_clock::now();
    auto report = [&](bool always) {
        const std::int64_t newUp = up.moved - reportedUp;
        const std::int64_t newDown = down.moved - reportedDown;
        if (newUp == 0 && newDown == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (!always && newUp + newDown < kReportBytes && now - lastReport < kReportInterval)
            return;
        if (filter_ && handle_ != -1)
            filter_->tunnelData(handle_, newUp, newDown, TunnelEnd::Open);
        reportedUp = up.moved;
        reportedDown = down.moved;
        lastReport = now;
    };

    std::uint32_t error = 0;
    for (;;) {
        for (Pump* pump : {&up, &down}) {
            if (pump->drained() && !pump->passed) {
                ::shutdown(pump->to, SHUT_WR);
                pump->passed = true;
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
        const int timeout = up.passed || down.passed ? kIdleLimitMs : -1;
        const int ready = retryInterrupted([&] { return ::poll(waits, 2, timeout); });
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : std::uint32_t(errno);
            break;
        }
        bool ok = true;
        for (Pump* pump : {&up, &down}) {
            const short fromReady = pump == &up ? waits[0].revents : waits[1].revents;
            const short toReady = pump == &up ? waits[1].revents : waits[0].revents;
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

TunnelOutcome carryConnect(const ConnectedTunnel& connected) {
    Tunnel tunnel(connected.clientSocket, connected.serverSocket, connected.filter,
                  connected.handle);
    TunnelOutcome outcome;
    outcome.error = tunnel.run(connected.fromClient, connected.fromServer);
    outcome.end = tunnel.closedFirst;
    return outcome;
}
