#include "engine/SocketStream.h"

#include "engine/HttpFilter.h"
#include "engine/SystemCall.h"

#include <cerrno>
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
    if (through ? !through->write(data, count) : !SocketStream::write(data, count))
        return false;
    if (handle != -1 && filter && count > 0)
        filter->requestData(handle, static_cast<const char*>(data), count);
    return true;
}

bool HttpResponseDataOutputStream::write(const void* data, std::int32_t count) {
    if (through ? !through->write(data, count) : !SocketStream::write(data, count))
        return false;
    if (handle != -1 && filter && count > 0)
        filter->responseData(handle, static_cast<const char*>(data), count);
    return true;
}
