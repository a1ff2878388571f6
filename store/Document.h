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

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

// The capture lock guards the list, the numbering and the current resource;
// it is held only for those, never around file work, decoding or a window's
// handling of a notice. Listed resources are read without it (see
// HttpResource) and freed only on the user-interface thread, where the
// commands and framework steps run.
class Document : public CacheFolder {
public:
    Document(DocumentUi& ui, EventDelivery& delivery, DocumentSettings& settings);
    ~Document() override;

    // How the cache folder is opened at the start: claimed for capturing
    // (Write), only read (Read: browsing and export, beside a writer or on a
    // read-only file system), or claimed when it can be written and only read
    // when its file system is read-only (WriteOrRead).
    enum class FolderUse { Write, Read, WriteOrRead };
    // Start of the application: prepares the cache folder and loads the
    // captures kept by earlier runs. False (after showing why, naming the
    // folder) when there is no cache folder to use.
    bool newDocument(FolderUse use = FolderUse::Write);
    // Cache files that could not be read at the start: left where they are,
    // unlisted, and never deleted.
    std::size_t unreadableFiles = 0;
    // Before the document closes: asks whether to keep the captures (only
    // when there are new ones), stops capturing and keeps or deletes the
    // files. False when the user cancels.
    bool saveModified();
    // What closing left in the cache folder of this run's captures.
    struct CloseSummary {
        std::size_t kept = 0;      // listed with their cache file
        std::size_t notStored = 0; // listed, but their bytes could not be stored
        std::uint32_t firstError = 0;
    };
    // The same without asking (capturing stops first): keep true saves every
    // capture to the cache folder, false deletes this run's files.
    CloseSummary closeCaptures(bool keep);

    // Commands. Starting binds the proxy, starts its threads and points the
    // user's proxy settings at it (shows why when it cannot); stopping ends
    // every connection, finishes writing their captures and writes the
    // user's settings back.
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
    // (now; user-interface thread only). Needs no lock.
    void notify(DocumentEvent event, HttpResource* resource, bool post);
    // Posts `event` for the resource numbered `id`, from any thread.
    void post(DocumentEvent event, std::uint32_t id);

    // Sets the current resource and sends event 4 (user-interface thread).
    // The panes read it as they receive the notice, with no lock held.
    void setCurrentResource(HttpResource* resource);

    // A capture could not be stored (`error` says why). The user is told
    // once per start of capturing, through DocumentUi::showStorageProblem on
    // the user-interface thread. Any thread.
    void captureNotStored(std::uint32_t error);
    // A program of another user (`uid`) was refused. The user is told once
    // per start of capturing, through DocumentUi::showUserRefused. Any thread.
    void userRefused(std::uint32_t uid);

    DocumentUi& ui;
    EventDelivery& delivery;
    DocumentSettings& settings;
    HttpSnagger filter;
    HttpProxy proxy;
    DLList<HttpResource> resources;
    HttpResource* currentResource = nullptr;
    bool modified = false;

private:
    // Tells the user of a storage problem or a refused user when its notice
    // arrives.
    class UserNotices : public DocumentListener {
    public:
        explicit UserNotices(Document& document) : document_(document) {}
        void documentEvent(const DocumentNotice& notice) override;

    private:
        Document& document_;
    };

    void loadCache();
    // The captures of the run folder `name`: its log and its cache files.
    void loadRun(const std::string& name);
    // The status note on what the start found: a read-only folder, files
    // that could not be read.
    void tellWhatLoadingFound();
    // Capturing and deleting need a folder that can be written: false after
    // saying so when it is only read.
    bool refuseWhenReadOnly();
    // Ends every connection, then waits until each ended exchange is written.
    void stopProxy();
    void dropCurrentAndAnnounceClearing();
    // Unlinks every resource; those still being captured are left to their
    // threads (detached) and the rest returned.
    std::vector<HttpResource*> takeAll();

    mutable std::shared_mutex listenersMutex_;
    std::vector<std::pair<DocumentEvent, DocumentListener*>> listeners_;
    // Listed resources by ascending id: new captures come last.
    std::vector<std::pair<std::uint32_t, HttpResource*>> byId_;
    void postNotice(const DocumentNotice& notice);

    std::atomic<bool> storageProblemTold_{false};
    std::atomic<bool> userRefusalTold_{false};
    UserNotices userNotices_{*this};
};

// "N files could not be read and were skipped", naming `folder`.
std::string skippedFilesText(std::size_t count, const std::string& folder);
