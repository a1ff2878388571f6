// The run folders of a cache folder: where captures are written and how they
// go again.
#pragma once

#include "engine/FileStream.h"
#include "store/CaptureLog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The captures one process writes: the folder "Run" + the number of the
// first of them (ten digits), holding the run's capture log and a cache file
// "R" + number + ".dat" for every capture that outgrew memory. Files of older
// builds lie in the cache folder itself and stay there.
struct CaptureRun {
    std::string folder; // ending in "/"
    bool ours = false;  // written by this process
    // Moved away for deleting (and no longer at `folder`), or its log
    // deleted while files of captures in progress kept the folder; under the
    // runs' lock.
    bool trashed = false;
    bool logDeleted = false;
    // An earlier process's run holding files that could not be read: never
    // deleted whole, so that clearing takes only what was listed.
    bool keepsUnreadable = false;
    // Cache files of captures in progress open for writing.
    std::atomic<int> openFiles{0};
    std::unique_ptr<CaptureLog> log; // this process's appends, from the first

    std::string logPath() const;
    std::string fileName(std::uint32_t id) const;
};

// Deleting a run is one rename, whatever it holds: its folder moves to a
// ".deleting-" folder beside it, which no build lists, and is emptied in the
// background by a process of its own, so that neither leaving nor clearing
// waits for a million files to go. A deleting folder left behind (the
// process was killed) is emptied at the next start. Nothing else is ever
// moved there, so no newer capture can be deleted with it.
//
// Threads: connection threads create files and append through here; the
// user-interface thread clears. One lock orders them, so that a clear takes
// every capture written before it and none written after.
class CaptureRuns {
public:
    explicit CaptureRuns(const std::string& cacheFolder) : cacheFolder_(cacheFolder) {}
    CaptureRuns(const CaptureRuns&) = delete;
    CaptureRuns& operator=(const CaptureRuns&) = delete;

    // "Run" + ten digits (and anything after them): a run folder of
    // `firstId`.
    static bool parseFolderName(const std::string& name, std::uint32_t& firstId);
    // The ten decimal digits at `at` of `name` (a capture id, zero-padded);
    // false past its end or beyond 32 bits.
    static bool parseTenDigitId(const std::string& name, std::size_t at, std::uint32_t& id);
    static bool isDeletingFolderName(const std::string& name);

    // A run folder found in the cache folder (`name` without "/"), written by
    // an earlier process.
    CaptureRun* found(const std::string& name);

    // A new cache file for capture `id` in the current run, which it makes
    // when there is none; null (lastError()) when it cannot be created.
    // While the stream lives the run counts it as open. `run` is set to the
    // run.
    std::unique_ptr<FileStream> createFile(std::uint32_t id, const CaptureRun*& run);
    // Appends the image of capture `id` to the current run's log, unless
    // `wanted` (asked under the lock a clear takes) says it is no longer
    // wanted; returns the image's offset in the log and sets `run`, 0 when
    // it was not wanted, -1 (lastError()) when it could not be written.
    std::int64_t append(std::uint32_t id, const void* image, std::uint32_t length,
                        std::int64_t time, const std::function<bool()>& wanted,
                        const CaptureRun*& run);
    // Deletes the cache file of capture `id` in `run`.
    void deleteFile(const CaptureRun* run, std::uint32_t id);

    // Clearing: runs `takeAll` (which takes every listed capture) under the
    // lock, then deletes every run; a run that still holds cache files being
    // written, or files that could not be read, keeps its folder and loses
    // its log, and the files of the captures taken are the caller's to delete
    // (deleteFile). New captures go to a new run.
    void clear(const std::function<void()>& takeAll);
    // Deletes the runs this process wrote (leaving without keeping them;
    // nothing is being captured).
    void deleteOurs();
    // Empties the deleting folders found at the start, in the background.
    void emptyLeftovers();

    static constexpr const char* kLogName = "capture.log";
    static constexpr const char* kDeletingPrefix = ".deleting-";

private:
    CaptureRun* currentRun(std::uint32_t id);
    // Moves the run's folder away and has it deleted; false when it could not
    // be moved.
    bool deleteRun(CaptureRun& run);

    const std::string& cacheFolder_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<CaptureRun>> runs_;
    CaptureRun* current_ = nullptr;
};

// Deletes the folders in a process of its own, which outlives ours.
void deleteFoldersInBackground(const std::vector<std::string>& folders);
