// System calls that a signal may interrupt, retried the same way by every
// stream over a file descriptor.
#pragma once

#include "engine/Platform.h"

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

// Calls `call` again while it fails with EINTR; its last result.
template <typename Call> auto retryInterrupted(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

// Hands every byte to `put` (a write or send of (bytes, size) returning ssize_t), again after a
// short count: a short write (disk full, a slow peer) must not pass for success. False with the
// last error set when the system refuses.
template <typename Put> bool putAll(Put put, const void* data, std::size_t size) {
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = retryInterrupted([&] { return put(p, size); });
        if (n < 0) {
            setLastErrorFromErrno();
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}
