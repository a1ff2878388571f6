// Runs the proxy with a filter that follows every exchange and counts its
// bytes, for proxy_bench.sh. Prints "port N" once listening; on SIGUSR1 prints
// "stats <exchanges> <body bytes> <cpu seconds>"; ends on SIGINT/SIGTERM.
#include "engine/HttpFilter.h"
#include "engine/HttpProxy.h"
#include "engine/Platform.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>

namespace {

class CountingFilter : public HttpFilter {
public:
    int beginRequest(int, HttpRequestHeader&) override {
        exchanges.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    void requestData(int, const char*, int count) override {
        bytes.fetch_add(count, std::memory_order_relaxed);
    }
    bool beginResponse(int, HttpResponseHeader&) override { return true; }
    void responseData(int, const char*, int count) override {
        bytes.fetch_add(count, std::memory_order_relaxed);
    }

    std::atomic<long long> exchanges{0};
    std::atomic<long long> bytes{0};
};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
    }
    // Every thread the proxy starts inherits this mask, so the signals reach
    // sigwait below and nothing else.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CountingFilter filter;
    HttpProxy proxy;
    proxy.configuredPort = port;
    proxy.manageSystemSettings = false;
    if (!proxy.start(&filter)) {
        std::fprintf(stderr, "cannot start the proxy: %s\n", errorText(lastError()).c_str());
        return 1;
    }
    std::printf("port %d\n", proxy.port());
    std::fflush(stdout);
    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal != SIGUSR1)
            break;
        std::printf("stats %lld %lld %.6f\n", filter.exchanges.load(), filter.bytes.load(),
                    cpuSeconds());
        std::fflush(stdout);
    }
    proxy.stop();
    return 0;
}
