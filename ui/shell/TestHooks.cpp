#include "ui/shell/TestHooks.h"

#include <cstdio>
#include <cstdlib>

void traceEvent(const char* what) {
    static const bool enabled = std::getenv("TIDEWELL_TEST_TRACE") != nullptr;
    if (!enabled)
        return;
    std::fprintf(stderr, "tidewell-%s\n", what);
    std::fflush(stderr);
}
