// The capture document: the proxy, the capture filter, the captured
// resources, the cache folder, and the notices to the user interface.
#pragma once

#include "engine/HttpProxy.h"
#include "store/CacheFolder.h"
#include "store/DLList.h"
#include "store/DocumentEvents.h"
#include "store/DocumentUi.h"
#include "store/HttpResource.h"
#include "store/HttpSnagger.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Everything shared with connection threads (the list, the numbering, the
// current resource, the listener walk, every listed resource) is guarded by
// the capture lock. Commands and framework steps run on the user-interface
// thread.
class Document : public CacheFolder {
public:
    Document(DocumentUi& ui, EventDelivery& delivery, DocumentSettings& settings);
    ~Document() override;

    // Start of the application: prepares the cache folder and loads the
    // captures kept by earlier runs. False (after showing why) when there is
    // no cache folder.
    bool newDocument();
    // Before the document closes: asks whether to keep the captures (only
    // when there are new ones), stops capturing and keeps or deletes the
    // files. False when the user cancels.
    bool saveModified();
    // The same without asking (capturing stops first): keep true saves every
    // capture to the cache folder, false deletes this run's files.
    void closeCaptures(bool keep);

    // Commands. Starting binds the proxy, starts its threads and points the
    // user's proxy settings at it (shows why when it cannot); stopping ends
    // every connection and writes the user's settings back.
    bool startCapture();
    void stopCapture();
    bool isCapturing() const { return proxy.listening(); }
    void clearAll();
    void togglePreventCache();
    bool preventCache() const { return filter.preventCache; }

    // Links a resource in id order (new captures land at the tail) and marks
    // the document modified. Under the capture lock.
    void addResource(HttpResource* resource);
    // The listed resource with that sequence number, or null. Under the
    // capture lock, and the result is only good while it is held.
    HttpResource* findResource(std::uint32_t id) const;

    void addListener(DocumentEvent event, DocumentListener* listener);
    // Also drops notices still queued for it.
    void removeListener(DocumentListener* listener);
    // To every listener of `event`: posted (queued, never waiting) or sent
    // (now; user-interface thread only). Under the capture lock.
    void notify(DocumentEvent event, HttpResource* resource, bool post);

    // Sets the current resource and sends event 4 (user-interface thread).
    void setCurrentResource(HttpResource* resource);

    DocumentUi& ui;
    EventDelivery& delivery;
    DocumentSettings& settings;
    HttpSnagger filter;
    HttpProxy proxy;
    DLList<HttpResource> resources;
    HttpResource* currentResource = nullptr;
    bool modified = false;

private:
    void loadCache();
    void unlinkResource(HttpResource* resource);
    void dropCurrentAndAnnounceClearing();

    std::vector<std::pair<DocumentEvent, DocumentListener*>> listeners_;
    std::unordered_map<std::uint32_t, HttpResource*> byId_;
};
