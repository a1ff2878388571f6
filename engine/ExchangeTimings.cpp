#include "engine/ExchangeTimings.h"

#include <algorithm>
#include <ctime>

void ExchangeClock::start(Clock::time_point at) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t wall = std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    timings = ExchangeTimings();
    // Started earlier: the wall clock of that moment.
    timings.start =
        wall - std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - at).count();
    origin_ = at;
}

std::int64_t ExchangeClock::offset(Clock::time_point at) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(at - origin_).count();
}

std::int64_t ExchangeClock::since(Clock::time_point at) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - at).count();
}

std::int64_t ExchangePhases::total() const {
    std::int64_t sum = 0;
    for (std::int64_t phase : {blocked, dns, connect, send, wait, receive})
        sum += std::max<std::int64_t>(0, phase);
    return sum;
}

ExchangePhases exchangePhases(const ExchangeTimings& t) {
    ExchangePhases h;
    if (!t.known())
        return h;
    auto between = [](std::int64_t from, std::int64_t to) {
        return from >= 0 && to >= from ? to - from : 0;
    };
    h.dns = t.dns;
    h.connect = t.connect;
    h.ssl = t.tls;
    // Before the connection was being made: the relay's own turn.
    std::int64_t connected = t.connected;
    if (connected >= 0) {
        const std::int64_t setup =
            std::max<std::int64_t>(0, t.dns) + std::max<std::int64_t>(0, t.connect);
        h.blocked = std::max<std::int64_t>(0, connected - setup);
    } else {
        connected = 0;
    }
    h.send = between(connected, t.sent);
    h.wait = between(t.sent, t.firstByte);
    h.receive = between(t.firstByte, t.end);
    return h;
}
