// The per-user cache folder, the sequence numbers that name its files, and
// the three file operations every resource uses.
#pragma once

#include "store/CacheFolderLock.h"
#include "store/CaptureRuns.h"

#include <cstdint>
#include <string>

class FileStream;

// Cache files hold captured cookies and passwords: the folder is created
// readable by the user alone (0700) and the files are 0600.
class CacheFolder {
public:
    CacheFolder() = default;
    virtual ~CacheFolder() = default;
    CacheFolder(const CacheFolder&) = delete;
    CacheFolder& operator=(const CacheFolder&) = delete;

    // Finds $XDG_DATA_HOME (default ~/.local/share), creates Merovex/Tidewell/
    // Cache/ below it with every missing parent, claims it for this process
    // (folderLock) and stores it in cacheFolder. False with the reason in
    // lastError(): kErrorCacheFolderBusy when another process writes there.
    bool prepareCacheFolder();
    // For reading only (browsing and export): finds the folder and neither
    // creates, changes nor claims it, so that it works beside the writer and
    // on a read-only file system. A folder that does not exist holds no
    // captures. False (lastError()) when it exists but cannot be read.
    bool openCacheFolderToRead();

    // The folder below the data home, ending in "/"; false (ENOENT) when no
    // home can be found.
    static bool findCacheFolder(std::string& folder);
    // Creates `path` and its missing parents (0700); an existing folder is
    // fine.
    static bool createFolder(const std::string& path);

    // "R" + ten decimal digits + ".dat" in the cache folder.
    std::string fileName(std::uint32_t id) const;
    // The sequence number a cache file name stands for; false for any other
    // name.
    static bool parseFileName(const std::string& name, std::uint32_t& id);

    // Opens the file of `id` for reading (an existing file) or creates it anew
    // for writing. Writing with id 0xFFFFFFFF takes a fresh sequence number.
    // Returns the number used, or -1 (lastError()). Any thread; no lock is
    // held during the open.
    std::int64_t openCacheFile(std::uint32_t id, bool forReading, FileStream& stream);
    // Deletes the file of `id` (up to five attempts); failures are not
    // reported.
    void deleteCacheFile(std::uint32_t id);

    // The current nextId, which then moves on; under the capture lock.
    std::uint32_t takeSequenceNumber();

    static constexpr std::uint32_t kNoId = 0xFFFFFFFF;

    std::uint32_t nextId = 1;
    // Held from prepareCacheFolder on, for as long as this object writes the
    // folder.
    CacheFolderLock folderLock;
    // Written once before any capture starts, only read afterwards.
    std::string cacheFolder;
    // Opened for reading only: nothing here writes or deletes a file in it.
    bool readOnly = false;
    // Where this process writes its captures, and the runs of earlier ones.
    CaptureRuns runs{cacheFolder};
};

// What keeps `folder` from being used, naming it: the holder for
// kErrorCacheFolderBusy (from `lock`), what still works for a read-only one.
std::string cacheFolderErrorText(const std::string& folder, std::uint32_t error,
                                 const CacheFolderLock& lock);
