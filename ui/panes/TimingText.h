// How long an exchange took, as the list and the response head pane say it.
#pragma once

#include "engine/ExchangeTimings.h"

#include <cstdint>
#include <string>

// "0 ms" to "999 ms", then seconds ("1.25 s", "12.5 s", "125 s"); empty for
// a time not known (negative).
std::string durationText(std::int64_t micros);

// One line of the exchange's phases: its duration, then each phase that
// happened ("DNS 2 ms", "连接 10 ms", ...). Empty when the capture has no
// times.
std::string timingsText(const ExchangeTimings& timings, std::int64_t duration);
