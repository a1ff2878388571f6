// Memory held per captured exchange, as the command-line capture holds it: a
// million small exchanges (1 KiB bodies) pass the capture filter into a
// document, and the growth of resident memory is divided by their number.
// Every finished capture is in its cache file, so what stays in memory is
// what the list needs to find it. Goal: at most 1 KiB per exchange.
// Usage: bench_capture_memory [count]
#include "bench/CaptureBench.h"
#include "store/CaptureLock.h"
#include "store/QueuedEventDelivery.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

struct CountingListener : DocumentListener {
    void documentEvent(const DocumentNotice&) override { ++events; }
    long events = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const BenchDataHome home;
    BenchUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    Document document(ui, delivery, settings);
    CountingListener listener;
    document.addListener(DocumentEvent::ResourceAdded, &listener);
    document.addListener(DocumentEvent::ResourceChanged, &listener);
    if (!document.newDocument())
        return 1;
    // The first exchanges set up what every later one shares.
    for (int i = 0; i < 1000; ++i)
        captureSmallExchange(document, i);
    delivery.dispatchPending();
    const long before = statusKiB("VmRSS:");
    for (int i = 0; i < count; ++i) {
        captureSmallExchange(document, i);
        if (i % 1000 == 999)
            delivery.dispatchPending();
    }
    delivery.dispatchPending();
    const long after = statusKiB("VmRSS:");
    const double perExchange = double(after - before) * 1024.0 / count;
    std::printf("captured exchanges:          %d (%zu listed, %ld notices)\n", count,
                document.resources.count, listener.events);
    std::printf("resident growth:             %.1f MiB (peak %.1f MiB)\n",
                double(after - before) / 1024.0, double(statusKiB("VmHWM:")) / 1024.0);
    std::printf("resident memory per exchange: %.0f bytes (goal <= 1024)\n", perExchange);
    const auto closing = std::chrono::steady_clock::now();
    document.closeCaptures(false);
    std::printf("closing without keeping: %.2f s (the run moved away, emptied in the background)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count());
    document.removeListener(&listener);
    return 0;
}
