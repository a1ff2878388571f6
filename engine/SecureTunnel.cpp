#include "engine/SecureTunnel.h"

#include "engine/HttpsInterceptor.h"
#include "engine/Platform.h"
#include "engine/SystemCall.h"
#include "engine/Tunnel.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace {

constexpr std::int32_t kChunk = 65536;

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// One direction. A piece read waits here until the other side took all of
// it: TLS wants a write that could not finish offered again unchanged.
struct Flow {
    SecureStream& from;
    int fromSocket;
    SecureStream& to;
    int toSocket;
    std::string pending;
    std::size_t offset = 0;
    bool ended = false;     // the source sent its end of stream
    bool passed = false;    // and the end went on
    bool writeWait = false; // the destination could not take more
    std::int64_t moved = 0;
    HttpFilter* follower = nullptr; // shown every byte delivered
    int handle = -1;
    bool fromClient = false;

    bool waiting() const { return offset < pending.size(); }

    // Moves what it can without waiting; false on a failure (last error set).
    bool step(bool& progress) {
        while (waiting()) {
            const std::int32_t n =
                to.writeSome(pending.data() + offset, std::int32_t(pending.size() - offset));
            if (n == SecureStream::kWouldBlock) {
                writeWait = true;
                return true;
            }
            if (n < 0)
                return false;
            if (follower)
                follower->upgradeData(handle, fromClient, pending.data() + offset, n);
            offset += std::size_t(n);
            moved += n;
            progress = true;
        }
        writeWait = false;
        pending.clear();
        offset = 0;
        if (ended)
            return true;
        char buffer[kChunk];
        const std::int32_t n = from.readSome(buffer, kChunk);
        if (n == SecureStream::kWouldBlock)
            return true;
        if (n < 0)
            return false;
        if (n == 0)
            ended = true;
        else
            pending.assign(buffer, std::size_t(n));
        progress = true;
        return true;
    }
};

} // namespace

std::uint32_t SecureTunnel::run(std::string_view fromClient, std::string_view fromServer) {
    setNonBlocking(clientSocket_);
    setNonBlocking(serverSocket_);
    Flow up{client_, clientSocket_, server_, serverSocket_, std::string(fromClient)};
    Flow down{server_, serverSocket_, client_, clientSocket_, std::string(fromServer)};
    if (follow && filter_ && handle_ != -1) {
        up.follower = down.follower = filter_;
        up.handle = down.handle = handle_;
        up.fromClient = true;
    }
    TunnelProgress progress(filter_, handle_);
    auto report = [&](bool always) { progress.update(up.moved, down.moved, always); };

    std::uint32_t error = 0;
    for (;;) {
        bool progress = false;
        bool ok = true;
        for (Flow* flow : {&up, &down}) {
            ok = flow->step(progress);
            if (!ok)
                break;
            if (flow->ended && !flow->waiting() && !flow->passed) {
                flow->to.closeNotify();
                ::shutdown(flow->toSocket, SHUT_WR);
                flow->passed = true;
                if (closedFirst == TunnelEnd::Open)
                    closedFirst = flow == &up ? TunnelEnd::ClientClosed : TunnelEnd::ServerClosed;
            }
        }
        if (!ok) {
            error = lastError();
            break;
        }
        report(false);
        if (up.passed && down.passed)
            break;
        if (progress)
            continue;
        // Nothing moved: wait for a side to become readable, or writable
        // again where a write had to stop.
        short clientEvents = 0;
        short serverEvents = 0;
        for (Flow* flow : {&up, &down}) {
            short& fromEvents = flow == &up ? clientEvents : serverEvents;
            short& toEvents = flow == &up ? serverEvents : clientEvents;
            if (flow->writeWait)
                toEvents |= POLLOUT;
            else if (!flow->ended)
                fromEvents |= POLLIN;
        }
        pollfd waits[2] = {{clientEvents ? clientSocket_ : -1, clientEvents, 0},
                           {serverEvents ? serverSocket_ : -1, serverEvents, 0}};
        const int timeout = up.passed || down.passed ? kIdleLimitMs : -1;
        const int ready = retryInterrupted([&] { return ::poll(waits, 2, timeout); });
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : std::uint32_t(errno);
            break;
        }
    }
    report(true);
    toServer = up.moved;
    toClient = down.moved;
    return error;
}
