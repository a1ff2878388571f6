#include "ui/panes/TimingText.h"

#include "resources/StringTable.h"

#include <cstdio>

namespace {

std::string formatted(unsigned id, const std::string& value) {
    char out[256];
    std::snprintf(out, sizeof out, loadString(id), value.c_str());
    return out;
}

} // namespace

std::string durationText(std::int64_t micros) {
    if (micros < 0)
        return {};
    char number[32];
    if (micros < 1000000) {
        std::snprintf(number, sizeof number, "%lld", static_cast<long long>(micros / 1000));
        return formatted(IDS_DURATION_MS, number);
    }
    const double seconds = double(micros) / 1e6;
    if (seconds < 10)
        std::snprintf(number, sizeof number, "%.2f", seconds);
    else if (seconds < 100)
        std::snprintf(number, sizeof number, "%.1f", seconds);
    else
        std::snprintf(number, sizeof number, "%lld", static_cast<long long>(micros / 1000000));
    return formatted(IDS_DURATION_S, number);
}

std::string timingsText(const ExchangeTimings& timings, std::int64_t duration) {
    if (!timings.known())
        return {};
    ExchangeTimings t = timings;
    t.end = duration;
    const ExchangePhases phases = exchangePhases(t);
    std::string out = formatted(IDS_TIMING_TOTAL, duration >= 0 ? durationText(duration) : "…");
    auto phase = [&](unsigned id, std::int64_t micros) {
        if (micros >= 0)
            out += "  " + formatted(id, durationText(micros));
    };
    phase(IDS_TIMING_DNS, phases.dns);
    phase(IDS_TIMING_CONNECT, phases.connect);
    phase(IDS_TIMING_TLS, phases.ssl);
    phase(IDS_TIMING_SEND, phases.send);
    phase(IDS_TIMING_WAIT, phases.wait);
    if (duration >= 0)
        phase(IDS_TIMING_RECEIVE, phases.receive);
    return out;
}
