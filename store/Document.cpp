#include "store/Document.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

namespace {
constexpr const char* kSettingsSection = "Settings";
constexpr const char* kPreventCacheValue = "Disable Agent Cache";
} // namespace

Document::Document(DocumentUi& ui, EventDelivery& delivery, DocumentSettings& settings)
    : ui(ui), delivery(delivery), settings(settings), filter(this) {
    filter.preventCache = settings.readInt(kSettingsSection, kPreventCacheValue, 0) != 0;
}

Document::~Document() {
    // Connection threads write into listed resources: they end before any
    // resource is destroyed.
    proxy.stop();
    settings.writeInt(kSettingsSection, kPreventCacheValue, filter.preventCache ? 1 : 0);
    CaptureLocker lock(captureLock());
    listeners_.clear();
    byId_.clear();
    currentResource = nullptr;
    resources.clear(); // files stay
}

bool Document::newDocument() {
    if (!prepareCacheFolder()) {
        if (lastError() == kErrorCacheFolderBusy)
            ui.showMessage(cacheFolderBusyText(folderLock.folder(), folderLock.holder()));
        else
            ui.showLastError();
        return false;
    }
    loadCache();
    modified = false;
    CaptureLocker lock(captureLock());
    notify(DocumentEvent::Initialised, nullptr, true);
    return true;
}

void Document::loadCache() {
    struct Entry {
        std::uint32_t id;
        std::string path;
    };
    std::vector<Entry> files;
    std::uint32_t highest = 0;
    bool any = false;
    if (DIR* dir = opendir(cacheFolder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            std::uint32_t id;
            if (!parseFileName(entry->d_name, id))
                continue;
            // New captures are numbered above every entry with a cache file's
            // name, loaded or not, plain file or not, so that none left in
            // place is ever written over or through.
            if (id != kNoId && (!any || id > highest)) {
                highest = id;
                any = true;
            }
            const std::string path = cacheFolder + entry->d_name;
            // Only plain files: opening a FIFO or a device would hang or worse.
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            files.push_back({id, path});
        }
        closedir(dir);
    }
    // In id order, each new resource lands at the tail.
    std::sort(files.begin(), files.end(),
              [](const Entry& a, const Entry& b) { return a.id < b.id; });

    CaptureLocker lock(captureLock());
    if (any && highest >= nextId)
        nextId = highest + 1;
    for (const Entry& file : files) {
        auto* resource = new HttpResource(this);
        if (resource->load(file.path)) {
            // A record naming another id would later be deleted under the
            // wrong name; such a file is left alone.
            if (resource->id == file.id && file.id != kNoId)
                addResource(resource);
            else
                delete resource;
            continue;
        }
        if (lastError() == kErrorResourceNotReady)
            deleteCacheFile(file.id);
        delete resource;
    }
}

bool Document::saveModified() {
    bool keep = false;
    bool ask;
    {
        CaptureLocker lock(captureLock());
        ask = !resources.empty() && modified;
    }
    if (ask) {
        switch (ui.askYesNoCancel(loadString(164))) {
        case DocumentUi::Answer::Cancel:
            return false;
        case DocumentUi::Answer::Yes:
            keep = true;
            break;
        case DocumentUi::Answer::No:
            break;
        }
    }
    closeCaptures(keep);
    return true;
}

void Document::closeCaptures(bool keep) {
    if (isCapturing())
        proxy.stop();
    CaptureLocker lock(captureLock());
    dropCurrentAndAnnounceClearing();
    while (HttpResource* resource = resources.head) {
        if (keep)
            resource->saveToCacheFile();
        else if (!resource->inMemory && !resource->fromDisk)
            deleteCacheFile(resource->id);
        unlinkResource(resource);
        delete resource;
    }
}

void Document::dropCurrentAndAnnounceClearing() {
    if (currentResource) {
        currentResource = nullptr;
        notify(DocumentEvent::CurrentChanged, nullptr, false);
    }
    notify(DocumentEvent::Clearing, nullptr, false);
}

void Document::clearAll() {
    if (!ui.askOkCancel(loadString(121)))
        return;
    CaptureLocker lock(captureLock());
    dropCurrentAndAnnounceClearing();
    while (HttpResource* resource = resources.head) {
        unlinkResource(resource);
        if ((resource->flags & HttpResource::Loading) && !(resource->flags & HttpResource::Ended)) {
            // Its connection thread frees it (and its file) when the exchange
            // ends.
            resource->flags |= HttpResource::Detached;
            resource->listItem = nullptr;
            continue;
        }
        if (!resource->inMemory)
            deleteCacheFile(resource->id);
        delete resource;
    }
}

bool Document::startCapture() {
    if (!proxy.start(&filter)) {
        ui.showLastError();
        return false;
    }
    char text[256];
    std::snprintf(text, sizeof text, loadString(108), proxy.address().c_str(), proxy.port());
    ui.setStatusText(text);
    return true;
}

void Document::stopCapture() {
    proxy.stop();
    ui.setStatusText(loadString(107));
}

void Document::togglePreventCache() {
    filter.preventCache = !filter.preventCache;
}

void Document::addResource(HttpResource* resource) {
    CaptureLocker lock(captureLock());
    HttpResource* before = nullptr;
    for (HttpResource* r = resources.tail; r && r->id >= resource->id; r = r->prev)
        before = r;
    resources.insertBefore(resource, before);
    byId_[resource->id] = resource;
    modified = true;
}

void Document::unlinkResource(HttpResource* resource) {
    resources.unlink(resource);
    byId_.erase(resource->id);
}

HttpResource* Document::findResource(std::uint32_t id) const {
    CaptureLocker lock(captureLock());
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

void Document::addListener(DocumentEvent event, DocumentListener* listener) {
    CaptureLocker lock(captureLock());
    listeners_.emplace_back(event, listener);
}

void Document::removeListener(DocumentListener* listener) {
    CaptureLocker lock(captureLock());
    std::erase_if(listeners_, [listener](const auto& l) { return l.second == listener; });
    delivery.forget(listener);
}

void Document::notify(DocumentEvent event, HttpResource* resource, bool post) {
    CaptureLocker lock(captureLock());
    DocumentNotice notice;
    notice.event = event;
    if (resource)
        notice.id = resource->id;
    if (!post)
        notice.resource = resource;
    // A copy: a listener receiving a sent notice may register or leave.
    const auto listeners = listeners_;
    for (const auto& [listenerEvent, listener] : listeners) {
        if (listenerEvent != event)
            continue;
        if (post)
            delivery.post(listener, notice);
        else
            delivery.send(listener, notice);
    }
}

void Document::setCurrentResource(HttpResource* resource) {
    CaptureLocker lock(captureLock());
    currentResource = resource;
    notify(DocumentEvent::CurrentChanged, resource, false);
}
