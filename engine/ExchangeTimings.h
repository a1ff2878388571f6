// When the phases of one relayed exchange happened.
#pragma once

#include <chrono>
#include <cstdint>

// Microseconds. `start` is wall-clock time since 1970; the points after it
// are offsets from it, and -1 is a point not reached or a phase that did not
// happen (a reused connection needs no name looked up and no connect).
struct ExchangeTimings {
    std::int64_t start = 0;      // the request head had arrived
    std::int64_t dns = -1;       // looking the name up
    std::int64_t connect = -1;   // opening the connection, the TLS handshake included
    std::int64_t tls = -1;       // the TLS handshake with the origin
    std::int64_t connected = -1; // the connection to the origin (or the user's proxy) ready
    std::int64_t sent = -1;      // the request, body and all, handed on
    std::int64_t firstByte = -1; // the first byte of the response
    std::int64_t end = -1;       // the exchange over

    bool known() const { return start != 0; }
    // end - start, -1 while unknown.
    std::int64_t duration() const { return start != 0 ? end : -1; }
};

// Stamps the points of an exchange on a steady clock, read as offsets from
// the moment it started.
class ExchangeClock {
public:
    using Clock = std::chrono::steady_clock;

    // A new exchange, started now or at an earlier moment of this clock.
    void start(Clock::time_point at = Clock::now());
    std::int64_t offset(Clock::time_point at = Clock::now()) const;
    std::int64_t since(Clock::time_point at) const;

    ExchangeTimings timings;

private:
    Clock::time_point origin_;
};
