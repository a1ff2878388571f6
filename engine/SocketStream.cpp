#include "engine/SocketStream.h"

#include "engine/HttpFilter.h"

#include <cerrno>
#include <sys/socket.h>

std::int32_t SocketStream::read(void* buffer, std::int32_t count) {
    if (count < 0)
        count = 0;
    ssize_t n;
    do
        n = ::recv(socket_, buffer, std::size_t(count), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return static_cast<std::int32_t>(n);
}

bool SocketStream::write(const void* data, std::int32_t count) {
    auto p = static_cast<const char*>(data);
    std::size_t left = count > 0 ? std::size_t(count) : 0;
    while (left > 0) {
        // A peer that went away must cost an error code, not the process.
        const ssize_t n = ::send(socket_, p, left, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setLastErrorFromErrno();
            return false;
        }
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

bool HttpRequestDataOutputStream::write(const void* data, std::int32_t count) {
    if (!SocketStream::write(data, count))
        return false;
    if (handle != -1 && filter && count > 0)
        filter->requestData(handle, static_cast<const char*>(data), count);
    return true;
}

bool HttpResponseDataOutputStream::write(const void* data, std::int32_t count) {
    if (!SocketStream::write(data, count))
        return false;
    if (handle != -1 && filter && count > 0)
        filter->responseData(handle, static_cast<const char*>(data), count);
    return true;
}
