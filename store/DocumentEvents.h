// How the capture document tells the user interface what changed.
#pragma once

#include <cstdint>

class HttpResource;

enum class DocumentEvent : int {
    Initialised = 1,      // posted
    ResourceAdded = 2,    // posted from connection threads
    ResourceChanged = 3,  // posted from connection threads (more body bytes, completion)
    CurrentChanged = 4,   // sent, on the user-interface thread
    Clearing = 5,         // sent: every resource is about to be removed
    CaptureNotStored = 6, // posted: captures are not being stored (`error` says why)
    UserRefused = 7,      // posted: a program of another user (`user`) was refused
};

// Posted notices name a resource by its sequence number only: by the time one
// is delivered its resource may be gone (cleared, or a detached capture freed
// by its thread). A receiver looks the number up with Document::findResource
// under the capture lock and ignores a notice whose resource is not there.
struct DocumentNotice {
    DocumentEvent event = DocumentEvent::Initialised;
    std::uint32_t id = 0xFFFFFFFF; // the resource's sequence number; all ones for none
    // Sent notices only (event 4): the resource, valid for the duration of
    // the call (listed resources are freed only on the user-interface
    // thread). No lock is held: the receiver reads it through the resource's
    // own reading operations. Null in posted notices.
    HttpResource* resource = nullptr;
    std::uint32_t error = 0; // event 6
    std::uint32_t user = 0;  // event 7: the other user's uid
};

// A window (or any receiver) registered with the document. Notices are
// delivered on the user-interface thread.
class DocumentListener {
public:
    virtual ~DocumentListener() = default;
    virtual void documentEvent(const DocumentNotice& notice) = 0;
};

// The application's way to reach its user-interface thread.
class EventDelivery {
public:
    virtual ~EventDelivery() = default;
    // Queues a delivery to `listener` on the user-interface thread and returns
    // at once; never waits for that thread. Called with the capture lock held.
    virtual void post(DocumentListener* listener, const DocumentNotice& notice) = 0;
    // Delivers now; called on the user-interface thread.
    virtual void send(DocumentListener* listener, const DocumentNotice& notice) {
        listener->documentEvent(notice);
    }
    // The listener is going away: queued deliveries to it must be dropped.
    virtual void forget(DocumentListener*) {}
};
