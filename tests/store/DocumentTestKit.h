// Stand-ins for the application around a Document: scripted answers, an
// in-memory settings store, and a listener that checks what it receives.
#pragma once

#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"
#include "support/DocumentStandIns.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

// Records every notice; for posted ones it looks the resource up the way a
// window must, and notes whether it was still there.
class RecordingListener : public DocumentListener {
public:
    explicit RecordingListener(Document& document) : document(document) {
        for (auto event : {DocumentEvent::Initialised, DocumentEvent::ResourceAdded,
                           DocumentEvent::ResourceChanged, DocumentEvent::CurrentChanged,
                           DocumentEvent::Clearing})
            document.addListener(event, this);
    }
    ~RecordingListener() override { document.removeListener(this); }

    struct Seen {
        DocumentEvent event;
        std::uint32_t id;
        bool found;            // posted: the id named a listed resource on arrival
        std::int64_t received; // its receivedSize then
    };

    void documentEvent(const DocumentNotice& notice) override {
        CaptureLocker lock(captureLock());
        Seen seen{notice.event, notice.id, false, -1};
        if (notice.event == DocumentEvent::ResourceAdded ||
            notice.event == DocumentEvent::ResourceChanged) {
            EXPECT_EQ(notice.resource, nullptr);
            if (HttpResource* resource = document.findResource(notice.id)) {
                seen.found = true;
                seen.received = resource->receivedSize;
            }
        }
        if (notice.event == DocumentEvent::CurrentChanged) {
            EXPECT_EQ(notice.resource, document.currentResource);
        }
        this->seen.push_back(seen);
    }

    std::vector<DocumentEvent> events() const {
        std::vector<DocumentEvent> out;
        for (const Seen& s : seen)
            out.push_back(s.event);
        return out;
    }

    Document& document;
    std::vector<Seen> seen;
};
