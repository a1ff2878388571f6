#include "engine/SocketStream.h"

#include "engine/HttpFilter.h"
#include "engine/SystemCall.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

std::int32_t SocketStream::read(void* buffer, std::int32_t count) {
    if (count < 0)
        count = 0;
    const ssize_t n =
        retryInterrupted([&] { return ::recv(socket_, buffer, std::size_t(count), 0); });
    if (n < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return static_cast<std::int32_t>(n);
}

bool SocketStream::write(const void* data, std::int32_t count) {
    // A peer that went away must cost an error code, not the process.
    return putAll(
        [this](const char* p, std::size_t left) { return ::send(socket_, p, left, MSG_NOSIGNAL); },
        data, count > 0 ? std::size_t(count) : 0);
}

bool HttpRequestDataOutputStream::write(const void* data, std::int32_t count) {
    if (!through && watchForAnswerMs >= 0) {
        std::int32_t sent = 0;
        const bool ok = sendWatching(static_cast<const char*>(data), count, sent);
        if (handle != -1 && filter && sent > 0)
            filter->requestData(handle, static_cast<const char*>(data), sent);
        failed_ = !ok;
        return ok;
    }
    if (through ? !through->write(data, count) : !SocketStream::write(data, count)) {
        failed_ = true;
        return false;
    }
    if (handle != -1 && filter && count > 0)
        filter->requestData(handle, static_cast<const char*>(data), count);
    return true;
}

bool HttpRequestDataOutputStream::sendWatching(const char* data, std::int32_t count,
                                               std::int32_t& sent) {
    const int fd = socketHandle();
    while (sent < count) {
        const ssize_t n = retryInterrupted([&] {
            return ::send(fd, data + sent, std::size_t(count - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (n >= 0) {
            sent += std::int32_t(n);
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            setLastErrorFromErrno();
            return false;
        }
        pollfd wait{fd, short(POLLOUT | (interimAnswerSeen_ ? 0 : POLLIN)), 0};
        const int ready = retryInterrupted([&] { return ::poll(&wait, 1, watchForAnswerMs); });
        if (ready <= 0) {
            setLastError(ready == 0 ? ETIMEDOUT : std::uint32_t(errno));
            return false;
        }
        if (wait.revents & POLLOUT)
            continue;
        if (wait.revents & POLLIN) {
            // "HTTP/1.1 100 Continue" and the like come while the origin still
            // reads: left for the response reader, and the upload goes on.
            char status[10];
            const ssize_t seen =
                retryInterrupted([&] { return ::recv(fd, status, sizeof status, MSG_PEEK); });
            if (seen == ssize_t(sizeof status) && status[9] == '1') {
                interimAnswerSeen_ = true;
                continue;
            }
            setLastError(kErrorAnsweredEarly);
            return false;
        }
        // An error or hang-up: the next send says which.
    }
    return true;
}

bool HttpResponseDataOutputStream::write(const void* data, std::int32_t count) {
    if (through ? !through->write(data, count) : !SocketStream::write(data, count))
        return false;
    if (handle != -1 && filter && count > 0)
        filter->responseData(handle, static_cast<const char*>(data), count);
    return true;
}
