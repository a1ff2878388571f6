#include "ui/shell/UiEventDelivery.h"

#include <QMetaObject>

UiEventDelivery::UiEventDelivery(QObject* parent) : QObject(parent) {}

void UiEventDelivery::post(DocumentListener* listener, const DocumentNotice& notice) {
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (notice.event == DocumentEvent::ResourceChanged &&
            !pendingChanges_.insert({listener, notice.id}).second)
            return;
        generation = generations_[listener];
    }
    DocumentNotice posted = notice;
    posted.resource = nullptr; // posted notices name their resource by number only
    QMetaObject::invokeMethod(
        this, [this, listener, generation, posted] { deliver(listener, generation, posted); },
        Qt::QueuedConnection);
}

void UiEventDelivery::forget(DocumentListener* listener) {
    std::lock_guard lock(mutex_);
    ++generations_[listener];
    for (auto it = pendingChanges_.lower_bound({listener, 0});
         it != pendingChanges_.end() && it->first == listener;)
        it = pendingChanges_.erase(it);
}

void UiEventDelivery::deliver(DocumentListener* listener, std::uint64_t generation,
                              const DocumentNotice& notice) {
    {
        std::lock_guard lock(mutex_);
        if (generations_[listener] != generation)
            return;
        if (notice.event == DocumentEvent::ResourceChanged)
            pendingChanges_.erase({listener, notice.id});
    }
    listener->documentEvent(notice);
}
