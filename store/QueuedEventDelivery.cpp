#include "store/QueuedEventDelivery.h"

#include <algorithm>

void QueuedEventDelivery::post(DocumentListener* listener, const DocumentNotice& notice) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasEmpty = queue_.empty();
        if (notice.event == DocumentEvent::ResourceChanged &&
            !pendingChanges_.emplace(listener, notice.id).second)
            return;
        DocumentNotice posted = notice;
        posted.resource = nullptr;
        queue_.emplace_back(listener, posted);
    }
    // Only a waiter on an empty queue needs waking; a wake per notice would
    // cost a context switch per captured exchange.
    if (wasEmpty)
        queued_.notify_all();
}

void QueuedEventDelivery::forget(DocumentListener* listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [listener](const Entry& e) { return e.first == listener; }),
                 queue_.end());
    for (auto it = pendingChanges_.begin(); it != pendingChanges_.end();)
        it = it->first == listener ? pendingChanges_.erase(it) : std::next(it);
}

std::size_t QueuedEventDelivery::dispatchPending() {
    std::size_t delivered = 0;
    for (;;) {
        Entry entry;
        {
            // One at a time: a delivery may forget a listener whose notices
            // are still queued.
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty())
                return delivered;
            entry = queue_.front();
            queue_.pop_front();
            if (entry.second.event == DocumentEvent::ResourceChanged)
                pendingChanges_.erase({entry.first, entry.second.id});
        }
        entry.first->documentEvent(entry.second);
        ++delivered;
    }
}

bool QueuedEventDelivery::waitForPending(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return queued_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
}

std::size_t QueuedEventDelivery::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}
