#include "engine/ExchangeTimings.h"

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
