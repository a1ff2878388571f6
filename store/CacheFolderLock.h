// One process's exclusive claim on a cache folder.
#pragma once

#include "engine/Platform.h"

#include <string>

// Another process writes the cache folder: its captures are numbered alike
// and would overwrite ours.
constexpr std::uint32_t kErrorCacheFolderBusy = customError(460);

// An advisory lock on a file in the folder, held through an open descriptor:
// it ends with the process however the process ends, so a crash never leaves
// the folder claimed. The descriptor is closed on exec, so programs we start
// do not inherit the claim.
class CacheFolderLock {
public:
    CacheFolderLock() = default;
    ~CacheFolderLock();
    CacheFolderLock(const CacheFolderLock&) = delete;
    CacheFolderLock& operator=(const CacheFolderLock&) = delete;

    // Claims `folder` (an existing folder) until release() or destruction.
    // False when another process, or another lock of this one, holds it
    // (kErrorCacheFolderBusy; holder() then names the process when known), or
    // when the lock file cannot be opened (its error).
    bool acquire(const std::string& folder);
    void release();
    bool held() const { return fd_ >= 0; }

    // The folder last asked for, and the process id and program name written
    // by whoever held it when acquire failed (0 and empty when unknown).
    const std::string& folder() const { return folder_; }
    int holder() const { return holder_; }
    const std::string& holderProgram() const { return holderProgram_; }

    // Not a cache file name: no build lists or deletes it.
    static constexpr const char* kFileName = ".lock";

private:
    int fd_ = -1;
    int holder_ = 0;
    std::string holderProgram_;
    std::string folder_;
};

// The message for a refused claim on `folder`, naming the holder and what it
// holds the folder for when known.
std::string cacheFolderBusyText(const std::string& folder, int holder,
                                const std::string& program = {});
