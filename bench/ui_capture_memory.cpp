// Memory held per captured exchange in the desktop program: the capture
// document with the resource list attached and showing a row for every
// exchange, a million small exchanges (1 KiB bodies) arriving through the
// capture filter, their notices delivered as the event loop delivers them and
// the list painted as it grows. Goal: at most 2 KiB per exchange.
// Usage: bench_ui_capture_memory [count]
#include "bench/CaptureBench.h"
#include "store/QueuedEventDelivery.h"
#include "ui/browser/ResourceListView.h"

#include <QApplication>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const BenchDataHome home;
    BenchUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    Document document(ui, delivery, settings);
    ResourceListView view;
    view.resize(1200, 700);
    view.show();
    view.attach(&document);
    if (!document.newDocument())
        return 1;
    QPixmap canvas(view.size());
    auto show = [&] {
        delivery.dispatchPending();
        view.tree()->updateRows();
        view.tree()->viewport()->render(&canvas);
    };
    for (int i = 0; i < 1000; ++i)
        captureSmallExchange(document, i);
    show();
    const long before = statusKiB("VmRSS:");
    for (int i = 0; i < count; ++i) {
        captureSmallExchange(document, i);
        if (i % 1000 == 999)
            delivery.dispatchPending();
        if (i % 20000 == 19999)
            show();
    }
    show();
    const long after = statusKiB("VmRSS:");
    std::printf("captured exchanges:           %d (%d rows)\n", count, view.tree()->itemCount());
    std::printf("resident growth:              %.1f MiB (peak %.1f MiB)\n",
                double(after - before) / 1024.0, double(statusKiB("VmHWM:")) / 1024.0);
    std::printf("resident memory per exchange: %.0f bytes (goal <= 2048)\n",
                double(after - before) * 1024.0 / count);
    // Leaving the window without keeping them, as its close does: the list
    // empties and this run's captures go (goal: under 2 s).
    const auto closing = std::chrono::steady_clock::now();
    document.closeCaptures(false);
    std::printf("closing without keeping: %.2f s (goal < 2 s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count());
    view.attach(nullptr);
    return 0;
}
