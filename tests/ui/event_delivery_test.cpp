// Document notices reach their listeners on the user-interface thread, in
// order, without stale deliveries to forgotten listeners.
#include "ui/shell/UiEventDelivery.h"

#include <QtTest>

#include <thread>
#include <vector>

namespace {

class Recorder : public DocumentListener {
public:
    void documentEvent(const DocumentNotice& notice) override {
        threads.push_back(QThread::currentThread());
        seen.push_back({static_cast<int>(notice.event), notice.id});
    }
    std::vector<QThread*> threads;
    std::vector<std::pair<int, std::uint32_t>> seen;
};

DocumentNotice notice(DocumentEvent event, std::uint32_t id) {
    DocumentNotice n;
    n.event = event;
    n.id = id;
    return n;
}

} // namespace

class EventDeliveryTest : public QObject {
    Q_OBJECT
private slots:
    void postsFromOtherThreadsArriveInOrderOnTheUiThread();
    void repeatedChangesOfOneResourceAreDeliveredOnce();
    void forgottenListenersGetNothingQueuedBefore();
};

void EventDeliveryTest::postsFromOtherThreadsArriveInOrderOnTheUiThread() {
    UiEventDelivery delivery;
    Recorder recorder;
    std::thread([&] {
        delivery.post(&recorder, notice(DocumentEvent::ResourceAdded, 1));
        delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 1));
        delivery.post(&recorder, notice(DocumentEvent::ResourceAdded, 2));
    }).join();
    QVERIFY(recorder.seen.empty()); // posted, never delivered on the poster's thread
    QCoreApplication::processEvents();
    const std::vector<std::pair<int, std::uint32_t>> expected{{2, 1}, {3, 1}, {2, 2}};
    QCOMPARE(recorder.seen, expected);
    for (QThread* thread : recorder.threads)
        QCOMPARE(thread, QThread::currentThread());
}

void EventDeliveryTest::repeatedChangesOfOneResourceAreDeliveredOnce() {
    UiEventDelivery delivery;
    Recorder recorder;
    for (int i = 0; i < 1000; ++i) {
        delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 7));
        delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 8));
    }
    QCoreApplication::processEvents();
    const std::vector<std::pair<int, std::uint32_t>> once{{3, 7}, {3, 8}};
    QCOMPARE(recorder.seen, once);
    // Once delivered, the next change is queued again.
    delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 7));
    QCoreApplication::processEvents();
    QCOMPARE(recorder.seen.size(), 3u);
}

void EventDeliveryTest::forgottenListenersGetNothingQueuedBefore() {
    UiEventDelivery delivery;
    Recorder recorder;
    delivery.post(&recorder, notice(DocumentEvent::ResourceAdded, 1));
    delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 1));
    delivery.forget(&recorder);
    // Registered again at the same address: only what comes after counts.
    delivery.post(&recorder, notice(DocumentEvent::ResourceChanged, 1));
    QCoreApplication::processEvents();
    const std::vector<std::pair<int, std::uint32_t>> after{{3, 1}};
    QCOMPARE(recorder.seen, after);
}

QTEST_GUILESS_MAIN(EventDeliveryTest)
#include "event_delivery_test.moc"
