// Runs the proxy for proxy_bench.sh: with a filter that follows every
// exchange and counts its bytes, or (--capture) capturing every exchange into
// a document whose cache folder lives below a private data home, as the
// command-line capture does. Prints "port N" once listening; on SIGUSR1 prints
// "stats <exchanges> <body bytes> <cpu seconds> <resident KiB> <peak resident
// KiB>"; ends on SIGINT/SIGTERM.
#include "bench/CaptureBench.h"
#include "engine/HttpFilter.h"
#include "engine/HttpProxy.h"
#include "engine/Platform.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

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

// Waits for SIGINT or SIGTERM, answering SIGUSR1 with a stats line.
void serve(const std::function<long long()>& exchanges, const std::function<long long()>& bytes,
           const sigset_t& signals) {
    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal != SIGUSR1)
            return;
        std::printf("stats %lld %lld %.6f %ld %ld\n", exchanges(), bytes(), cpuSeconds(),
                    statusKiB("VmRSS:"), statusKiB("VmHWM:"));
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    bool capture = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--capture") == 0)
            capture = true;
    }
    // Every thread the proxy starts inherits this mask, so the signals reach
    // sigwait below and nothing else.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (capture) {
        const BenchDataHome home;
        BenchUi ui;
        QueuedEventDelivery delivery;
        NoSettings settings;
        Document document(ui, delivery, settings);
        if (!document.newDocument())
            return 1;
        document.proxy.configuredPort = port;
        document.proxy.manageSystemSettings = false;
        if (!document.startCapture())
            return 1;
        // The user-interface thread takes the notices as they come.
        std::atomic<bool> done{false};
        std::thread drain([&] {
            while (!done) {
                delivery.waitForPending(std::chrono::milliseconds(100));
                delivery.dispatchPending();
            }
        });
        std::printf("port %d\n", document.proxy.port());
        std::fflush(stdout);
        serve(
            [&] {
                CaptureLocker lock(captureLock());
                return static_cast<long long>(document.nextId - 1);
            },
            [] { return 0ll; }, signals);
        document.stopCapture();
        done = true;
        drain.join();
        document.closeCaptures(false);
        return 0;
    }

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
    serve([&] { return filter.exchanges.load(); }, [&] { return filter.bytes.load(); }, signals);
    proxy.stop();
    return 0;
}
