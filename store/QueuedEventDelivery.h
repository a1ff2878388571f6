// Event delivery through a plain queue, drained by the thread that plays the
// user-interface thread (tests, the command-line capture).
#pragma once

#include "store/DocumentEvents.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <utility>

class QueuedEventDelivery : public EventDelivery {
public:
    void post(DocumentListener* listener, const DocumentNotice& notice) override;
    void forget(DocumentListener* listener) override;

    // Delivers every queued notice on the calling thread, oldest first,
    // including notices posted by the deliveries themselves; returns how many.
    std::size_t dispatchPending();
    // Waits until a notice is queued or `timeout` passes; true when one is.
    bool waitForPending(std::chrono::milliseconds timeout);
    std::size_t pending() const;

private:
    using Entry = std::pair<DocumentListener*, DocumentNotice>;

    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Entry> queue_;
    // A resource that changes again before its last change was delivered is
    // queued once: the receiver reads the resource's current state anyway,
    // and a busy download must not grow the queue without bound.
    std::set<std::pair<DocumentListener*, std::uint32_t>> pendingChanges_;
};
