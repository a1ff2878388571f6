// The document's notices delivered on the user-interface thread through Qt's
// queued calls.
#pragma once

#include "store/DocumentEvents.h"

#include <QObject>

#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

// Lives on the user-interface thread. post may be called from any thread;
// forget and send on the user-interface thread only.
class UiEventDelivery : public QObject, public EventDelivery {
    Q_OBJECT
public:
    explicit UiEventDelivery(QObject* parent = nullptr);

    void post(DocumentListener* listener, const DocumentNotice& notice) override;
    void forget(DocumentListener* listener) override;

private:
    void deliver(DocumentListener* listener, std::uint64_t generation,
                 const DocumentNotice& notice);

    std::mutex mutex_;
    // Bumped by forget: notices queued before it are dropped, even when a new
    // listener later takes the same address.
    std::unordered_map<DocumentListener*, std::uint64_t> generations_;
    // A resource that changes again before its last change was delivered is
    // queued once: the receiver reads the resource's current state anyway,
    // and a busy download must not grow the queue without bound.
    std::set<std::pair<DocumentListener*, std::uint32_t>> pendingChanges_;
};
