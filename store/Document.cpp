#include "store/Document.h"

#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {
constexpr const char* kSettingsSection = "Settings";
constexpr const char* kPreventCacheValue = "Disable Agent Cache";
} // namespace

Document::Document(DocumentUi& ui, EventDelivery& delivery, DocumentSettings& settings)
    : ui(ui), delivery(delivery), settings(settings), filter(this) {
    filter.preventCache = settings.readInt(kSettingsSection, kPreventCacheValue, 0) != 0;
    addListener(DocumentEvent::CaptureNotStored, &userNotices_);
    addListener(DocumentEvent::UserRefused, &userNotices_);
}

Document::~Document() {
    // Connection threads write into listed resources: they end before any
    // resource is destroyed.
    stopProxy();
    settings.writeInt(kSettingsSection, kPreventCacheValue, filter.preventCache ? 1 : 0);
    removeListener(&userNotices_);
    {
        std::unique_lock lock(listenersMutex_);
        listeners_.clear();
    }
    CaptureLocker lock(captureLock());
    byId_.clear();
    currentResource = nullptr;
    resources.clear(); // files stay
}

bool Document::newDocument(FolderUse use) {
    bool ready;
    if (use == FolderUse::Read) {
        ready = openCacheFolderToRead();
    } else {
        ready = prepareCacheFolder();
        // A folder on a read-only file system can still be browsed.
        if (!ready && use == FolderUse::WriteOrRead && lastError() == EROFS)
            ready = openCacheFolderToRead();
    }
    if (!ready) {
        const std::uint32_t error = lastError();
        std::string folder;
        if (findCacheFolder(folder))
            ui.showMessage(cacheFolderErrorText(folder, error, folderLock));
        else
            ui.showError(error);
        return false;
    }
    loadCache();
    // What an earlier process left half-deleted goes now, unless the folder
    // is only read.
    if (!readOnly)
        runs.emptyLeftovers();
    modified = false;
    tellWhatLoadingFound();
    post(DocumentEvent::Initialised, CacheFolder::kNoId);
    return true;
}

std::string skippedFilesText(std::size_t count, const std::string& folder) {
    char text[4096];
    if (count == 1)
        std::snprintf(text, sizeof text, loadString(IDS_FILE_SKIPPED), folder.c_str());
    else
        std::snprintf(text, sizeof text, loadString(IDS_FILES_SKIPPED), int(count), folder.c_str());
    return text;
}

void Document::tellWhatLoadingFound() {
    std::string note;
    // Opened only to read, the folder is called read-only when its disk is: a
    // reader beside the program that writes it is not.
    struct statvfs disk {};
    if (readOnly && ::statvfs(cacheFolder.c_str(), &disk) == 0 && (disk.f_flag & ST_RDONLY))
        note = pathErrorText(IDS_CACHE_FOLDER_READ_ONLY, cacheFolder, EROFS);
    if (unreadableFiles > 0)
        note += (note.empty() ? "" : " ") + skippedFilesText(unreadableFiles, cacheFolder);
    if (!note.empty())
        ui.showFolderNote(note);
}

bool Document::refuseWhenReadOnly() {
    if (!readOnly)
        return false;
    ui.showMessage(pathErrorText(IDS_CACHE_FOLDER_READ_ONLY, cacheFolder, EROFS));
    return true;
}

void Document::loadCache() {
    // Reading never deletes or rewrites: a file that cannot be read is left
    // as it is and counted, so that the user hears of it and decides.
    unreadableFiles = 0;
    struct Entry {
        std::uint32_t id;
        std::string path;
    };
    std::vector<Entry> files;
    std::vector<std::string> runFolders;
    std::uint32_t highest = 0;
    bool any = false;
    if (DIR* dir = opendir(cacheFolder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            std::uint32_t id;
            if (CaptureRuns::parseFolderName(entry->d_name, id)) {
                runFolders.emplace_back(entry->d_name);
                continue;
            }
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
            if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                ++unreadableFiles;
                continue;
            }
            files.push_back({id, path});
        }
        closedir(dir);
    }
    // In id order, each new resource lands at the tail.
    std::sort(files.begin(), files.end(),
              [](const Entry& a, const Entry& b) { return a.id < b.id; });

    {
        CaptureLocker lock(captureLock());
        if (any && highest >= nextId)
            nextId = highest + 1;
    }
    for (const Entry& file : files) {
        auto* resource = new HttpResource(this);
        // A record naming another id would later be deleted under the wrong
        // name; such a file is left alone.
        if (resource->load(file.path) && resource->id == file.id && file.id != kNoId) {
            addResource(resource);
            continue;
        }
        ++unreadableFiles;
        delete resource;
    }
    std::sort(runFolders.begin(), runFolders.end());
    for (const std::string& name : runFolders)
        loadRun(name);
}

void Document::loadRun(const std::string& name) {
    const std::string folder = cacheFolder + name + "/";
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    CaptureRun* run = runs.found(name);
    std::vector<HttpResource*> loaded;
    std::uint32_t highest = 0;
    const auto take = [&](HttpResource* resource) {
        // A record naming no capture, or one already listed, is left alone.
        if (resource->id == kNoId || findResource(resource->id)) {
            delete resource;
            return;
        }
        highest = std::max(highest, resource->id);
        loaded.push_back(resource);
    };
    // Damaged stretches of the log count as files that could not be read:
    // the user hears of them, and the log stays as it is.
    std::size_t damaged = 0;
    if (!CaptureLog::read(
            run->logPath(),
            [&](const CaptureLog::Frame& frame) {
                auto* resource = new HttpResource(this);
                if (resource->loadLogged(run, frame.offset, frame.image, frame.length))
                    take(resource);
                else {
                    ++damaged;
                    delete resource;
                }
            },
            damaged) &&
        lastError() != ENOENT)
        ++damaged;
    unreadableFiles += damaged;
    if (damaged > 0)
        run->keepsUnreadable = true;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string entryName = entry->d_name;
            if (entryName == "." || entryName == ".." || entryName == CaptureRuns::kLogName)
                continue;
            std::uint32_t id;
            const std::string path = folder + entryName;
            const bool named = parseFileName(entryName, id);
            auto* resource = new HttpResource(this);
            if (named && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                resource->load(path) && resource->id == id) {
                resource->run = run;
                take(resource);
            } else {
                // Whatever else the folder holds stays where it is; a cache
                // file among it is counted.
                run->keepsUnreadable = true;
                unreadableFiles += named ? 1 : 0;
                delete resource;
            }
        }
        closedir(dir);
    }
    // Appended as their exchanges ended: listed by number.
    std::sort(loaded.begin(), loaded.end(),
              [](const HttpResource* a, const HttpResource* b) { return a->id < b->id; });
    std::uint32_t previous = kNoId;
    for (HttpResource* resource : loaded) {
        if (resource->id == previous) {
            delete resource; // the same capture twice: the first is listed
            continue;
        }
        previous = resource->id;
        addResource(resource);
    }
    std::uint32_t firstId = 0;
    CaptureRuns::parseFolderName(name, firstId);
    CaptureLocker lock(captureLock());
    highest = std::max(highest, firstId);
    if (highest != kNoId && highest >= nextId)
        nextId = highest + 1;
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

Document::CloseSummary Document::closeCaptures(bool keep) {
    stopProxy();
    dropCurrentAndAnnounceClearing();
    CloseSummary summary;
    const std::vector<HttpResource*> taken = takeAll();
    // This run's captures are all in the runs this process wrote: deleting
    // those is a rename each, however many captures they hold.
    if (!keep)
        runs.deleteOurs();
    for (HttpResource* resource : taken) {
        const bool thisRun = !resource->fromDisk;
        if (keep) {
            if (resource->flags & HttpResource::Unstored) {
                if (thisRun && ++summary.notStored == 1)
                    summary.firstError = resource->result;
            } else if (resource->saveToCacheFile()) {
                summary.kept += thisRun ? 1 : 0;
            } else if (thisRun && ++summary.notStored == 1) {
                summary.firstError = lastError();
            }
        }
        delete resource;
    }
    return summary;
}

void Document::dropCurrentAndAnnounceClearing() {
    // Sent without the capture lock: the windows drop their rows and the
    // panes their resource while connections go on numbering and listing.
    // Nothing is freed before these have returned.
    HttpResource* current;
    {
        CaptureLocker lock(captureLock());
        current = std::exchange(currentResource, nullptr);
    }
    if (current)
        notify(DocumentEvent::CurrentChanged, nullptr, false);
    notify(DocumentEvent::Clearing, nullptr, false);
}

std::vector<HttpResource*> Document::takeAll() {
    std::vector<HttpResource*> taken;
    CaptureLocker lock(captureLock());
    taken.reserve(resources.count);
    byId_ = {}; // all of them go, and the room with them
    while (HttpResource* resource = resources.head) {
        resources.unlink(resource);
        if ((resource->flags & HttpResource::Loading) && !(resource->flags & HttpResource::Ended)) {
            // Its connection thread frees it (and its file) when the exchange
            // ends.
            resource->flags |= HttpResource::Detached;
            resource->listItem = nullptr;
            continue;
        }
        taken.push_back(resource);
    }
    return taken;
}

void Document::clearAll() {
    if (refuseWhenReadOnly())
        return;
    if (!ui.askOkCancel(loadString(121)))
        return;
    dropCurrentAndAnnounceClearing();
    // Every run goes at once; what the runs keep for captures still being
    // written, and the files of older builds, go one by one after the locks
    // are released.
    std::vector<HttpResource*> taken;
    runs.clear([&] { taken = takeAll(); });
    for (HttpResource* resource : taken) {
        if (!(resource->flags & HttpResource::Unstored))
            resource->deleteStored();
        delete resource;
    }
}

bool Document::startCapture() {
    if (refuseWhenReadOnly())
        return false;
    storageProblemTold_ = false;
    userRefusalTold_ = false;
    if (!proxy.start(&filter)) {
        const std::uint32_t error = lastError();
        ui.showError(error);
        return false;
    }
    char text[256];
    std::snprintf(text, sizeof text, loadString(108), proxy.address().c_str(), proxy.port());
    ui.setStatusText(text);
    return true;
}

void Document::stopCapture() {
    stopProxy();
    ui.setStatusText(loadString(107));
}

void Document::stopProxy() {
    // Every exchange has ended, and each was stored as it ended.
    if (isCapturing())
        proxy.stop();
}

void Document::togglePreventCache() {
    filter.preventCache = !filter.preventCache;
}

namespace {
using IdEntry = std::pair<std::uint32_t, HttpResource*>;
bool idBefore(const IdEntry& entry, std::uint32_t id) {
    return entry.first < id;
}
} // namespace

void Document::addResource(HttpResource* resource) {
    CaptureLocker lock(captureLock());
    HttpResource* before = nullptr;
    for (HttpResource* r = resources.tail; r && r->id >= resource->id; r = r->prev)
        before = r;
    resources.insertBefore(resource, before);
    // New captures have the highest number: an append.
    const auto at = std::lower_bound(byId_.begin(), byId_.end(), resource->id, idBefore);
    if (at != byId_.end() && at->first == resource->id)
        at->second = resource;
    else
        byId_.insert(at, {resource->id, resource});
    modified = true;
}

HttpResource* Document::findResource(std::uint32_t id) const {
    CaptureLocker lock(captureLock());
    const auto at = std::lower_bound(byId_.begin(), byId_.end(), id, idBefore);
    return at != byId_.end() && at->first == id ? at->second : nullptr;
}

void Document::addListener(DocumentEvent event, DocumentListener* listener) {
    std::unique_lock lock(listenersMutex_);
    listeners_.emplace_back(event, listener);
}

void Document::removeListener(DocumentListener* listener) {
    std::unique_lock lock(listenersMutex_);
    std::erase_if(listeners_, [listener](const auto& l) { return l.second == listener; });
    // Under the lock: no post in flight can queue a notice after this.
    delivery.forget(listener);
}

void Document::notify(DocumentEvent event, HttpResource* resource, bool post) {
    if (post) {
        this->post(event, resource ? resource->id : CacheFolder::kNoId);
        return;
    }
    DocumentNotice notice;
    notice.event = event;
    if (resource)
        notice.id = resource->id;
    notice.resource = resource;
    // A copy: a listener receiving a sent notice may register or leave.
    std::vector<std::pair<DocumentEvent, DocumentListener*>> listeners;
    {
        std::shared_lock lock(listenersMutex_);
        listeners = listeners_;
    }
    for (const auto& [listenerEvent, listener] : listeners)
        if (listenerEvent == event)
            delivery.send(listener, notice);
}

void Document::post(DocumentEvent event, std::uint32_t id) {
    DocumentNotice notice;
    notice.event = event;
    notice.id = id;
    // Connections post at once: they share the listener list, not a turn.
    std::shared_lock lock(listenersMutex_);
    for (const auto& [listenerEvent, listener] : listeners_)
        if (listenerEvent == event)
            delivery.post(listener, notice);
}

void Document::setCurrentResource(HttpResource* resource) {
    {
        CaptureLocker lock(captureLock());
        currentResource = resource;
    }
    notify(DocumentEvent::CurrentChanged, resource, false);
}

void Document::captureNotStored(std::uint32_t error) {
    if (storageProblemTold_.exchange(true))
        return;
    DocumentNotice notice;
    notice.event = DocumentEvent::CaptureNotStored;
    notice.error = error;
    postNotice(notice);
}

void Document::userRefused(std::uint32_t uid) {
    if (userRefusalTold_.exchange(true))
        return;
    DocumentNotice notice;
    notice.event = DocumentEvent::UserRefused;
    notice.user = uid;
    postNotice(notice);
}

void Document::postNotice(const DocumentNotice& notice) {
    std::shared_lock lock(listenersMutex_);
    for (const auto& [listenerEvent, listener] : listeners_)
        if (listenerEvent == notice.event)
            delivery.post(listener, notice);
}

void Document::UserNotices::documentEvent(const DocumentNotice& notice) {
    char text[1024];
    if (notice.event == DocumentEvent::UserRefused) {
        std::snprintf(text, sizeof text, loadString(IDS_USER_REFUSED), unsigned(notice.user));
        document_.ui.showUserRefused(text);
        return;
    }
    std::snprintf(text, sizeof text, loadString(IDS_CAPTURE_NOT_STORED),
                  errorText(notice.error).c_str());
    document_.ui.showStorageProblem(text);
}
