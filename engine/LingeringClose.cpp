#include "engine/LingeringClose.h"

#include "engine/SystemCall.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

void lingerBeforeClose(int socket, const LingerLimits& limits) {
    using Clock = std::chrono::steady_clock;
    if (::shutdown(socket, SHUT_WR) != 0)
        return;
    const auto deadline = Clock::now() + limits.total;
    char discarded[16384];
    for (std::int64_t taken = 0; taken < limits.bytes;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return;
        pollfd wait{socket, POLLIN, 0};
        const auto timeout = std::min(left, limits.quiet);
        if (retryInterrupted([&] { return ::poll(&wait, 1, int(timeout.count())); }) <= 0)
            return;
        const ssize_t n = retryInterrupted(
            [&] { return ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT); });
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return;
        if (n > 0)
            taken += n;
    }
}
