#include "store/CacheFolder.h"

#include "engine/FileStream.h"
#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kCacheSubfolder = "Merovex/Tidewell/Cache/";

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char scratch[4096];
    if (getpwuid_r(getuid(), &entry, scratch, sizeof scratch, &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return {};
}

} // namespace

bool CacheFolder::findCacheFolder(std::string& folder) {
    std::string base;
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        base = data;
    } else {
        base = homeFolder();
        if (base.empty()) {
            setLastError(ENOENT);
            return false;
        }
        if (base.back() != '/')
            base += '/';
        base += ".local/share";
    }
    if (base.back() != '/')
        base += '/';
    folder = base + kCacheSubfolder;
    return true;
}

bool CacheFolder::createFolder(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    auto makeOne = [&p]() {
        if (mkdir(p.c_str(), 0700) == 0)
            return true;
        if (errno != EEXIST)
            return false;
        struct stat st {};
        if (stat(p.c_str(), &st) != 0)
            return false;
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        return true;
    };
    if (makeOne())
        return true;
    if (errno != ENOENT) {
        setLastErrorFromErrno();
        return false;
    }
    const auto slash = p.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (!createFolder(p.substr(0, slash + 1)))
        return false;
    if (!makeOne()) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

bool CacheFolder::prepareCacheFolder() {
    std::string folder;
    if (!findCacheFolder(folder) || !createFolder(folder))
        return false;
    // A folder left readable by others (made by hand, or by another tool)
    // would expose the captures, and one closed to us would list none and
    // keep none: ours is set back to the user's alone.
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && st.st_uid == getuid() && (st.st_mode & 0777) != 0700)
        chmod(folder.c_str(), 0700);
    // Someone else's folder we cannot use is a clear error at the start, not
    // captures lost one by one later.
    if (access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (!folderLock.acquire(folder))
        return false;
    cacheFolder = folder;
    return true;
}

bool CacheFolder::openCacheFolderToRead() {
    std::string folder;
    if (!findCacheFolder(folder))
        return false;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            setLastError(ENOTDIR);
            return false;
        }
        if (access(folder.c_str(), R_OK | X_OK) != 0) {
            setLastErrorFromErrno();
            return false;
        }
    } else if (errno != ENOENT) {
        setLastErrorFromErrno();
        return false;
    }
    cacheFolder = folder;
    readOnly = true;
    return true;
}

std::string cacheFolderErrorText(const std::string& folder, std::uint32_t error,
                                 const CacheFolderLock& lock) {
    if (error == kErrorCacheFolderBusy)
        return cacheFolderBusyText(folder, lock.holder(), lock.holderProgram());
    if (error == EROFS)
        return pathErrorText(IDS_CACHE_FOLDER_READ_ONLY, folder, error);
    return pathErrorText(IDS_CACHE_FOLDER_UNUSABLE, folder, error);
}

std::string CacheFolder::fileName(std::uint32_t id) const {
    char name[32];
    std::snprintf(name, sizeof name, "R%010u.dat", static_cast<unsigned>(id));
    return cacheFolder + name;
}

bool CacheFolder::parseFileName(const std::string& name, std::uint32_t& id) {
    return name.size() == 15 && name[0] == 'R' && name.compare(11, 4, ".dat") == 0 &&
           CaptureRuns::parseTenDigitId(name, 1, id);
}

std::int64_t CacheFolder::openCacheFile(std::uint32_t id, bool forReading, FileStream& stream) {
    // Only the numbering needs the capture lock: the open itself is file work,
    // which never holds up the other connections.
    bool opened;
    if (forReading) {
        opened = stream.open(fileName(id), FileStream::OpenRead | FileStream::OpenPlainFile);
    } else {
        if (id == kNoId)
            id = takeSequenceNumber();
        opened = stream.open(fileName(id), FileStream::OpenWrite | FileStream::OpenCreate |
                                               FileStream::OpenPlainFile);
    }
    return opened ? std::int64_t(id) : -1;
}

void CacheFolder::deleteCacheFile(std::uint32_t id) {
    const std::string path = fileName(id);
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (unlink(path.c_str()) == 0 || errno == ENOENT)
            return;
    }
}

std::uint32_t CacheFolder::takeSequenceNumber() {
    CaptureLocker lock(captureLock());
    return nextId++;
}
