#include "store/CaptureRuns.h"

#include "engine/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// Keeps the open-file count of a run while a capture writes its file.
class RunFile : public FileStream {
public:
    explicit RunFile(CaptureRun& run) : run_(run) { ++run_.openFiles; }
    ~RunFile() override { --run_.openFiles; }

private:
    CaptureRun& run_;
};

} // namespace

std::string CaptureRun::logPath() const {
    return folder + CaptureRuns::kLogName;
}

std::string CaptureRun::fileName(std::uint32_t id) const {
    char name[32];
    std::snprintf(name, sizeof name, "R%010u.dat", static_cast<unsigned>(id));
    return folder + name;
}

bool CaptureRuns::parseFolderName(const std::string& name, std::uint32_t& firstId) {
    return name.compare(0, 3, "Run") == 0 && parseTenDigitId(name, 3, firstId);
}

bool CaptureRuns::parseTenDigitId(const std::string& name, std::size_t at, std::uint32_t& id) {
    if (name.size() < at + 10)
        return false;
    std::uint64_t value = 0;
    for (std::size_t i = at; i < at + 10; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        value = value * 10 + std::uint64_t(name[i] - '0');
    }
    if (value > 0xFFFFFFFFu)
        return false;
    id = std::uint32_t(value);
    return true;
}

bool CaptureRuns::isDeletingFolderName(const std::string& name) {
    return name.rfind(kDeletingPrefix, 0) == 0;
}

CaptureRun* CaptureRuns::found(const std::string& name) {
    auto run = std::make_unique<CaptureRun>();
    run->folder = cacheFolder_ + name + "/";
    std::lock_guard lock(mutex_);
    runs_.push_back(std::move(run));
    return runs_.back().get();
}

CaptureRun* CaptureRuns::currentRun(std::uint32_t id) {
    if (current_)
        return current_;
    char name[32];
    std::snprintf(name, sizeof name, "Run%010u", static_cast<unsigned>(id));
    std::string folder = cacheFolder_ + name;
    // A name still taken (a run of the same number kept its folder for a
    // capture being written) gets a suffix.
    for (int suffix = 1; ::mkdir(folder.c_str(), 0700) != 0; ++suffix) {
        if (errno != EEXIST || suffix > 1000) {
            setLastErrorFromErrno();
            return nullptr;
        }
        folder = cacheFolder_ + name + "-" + std::to_string(suffix);
    }
    auto run = std::make_unique<CaptureRun>();
    run->folder = folder + "/";
    run->ours = true;
    runs_.push_back(std::move(run));
    current_ = runs_.back().get();
    return current_;
}

std::unique_ptr<FileStream> CaptureRuns::createFile(std::uint32_t id, const CaptureRun*& run) {
    std::lock_guard lock(mutex_);
    CaptureRun* current = currentRun(id);
    if (!current)
        return nullptr;
    auto file = std::make_unique<RunFile>(*current);
    if (!file->open(current->fileName(id),
                    FileStream::OpenWrite | FileStream::OpenCreate | FileStream::OpenPlainFile))
        return nullptr;
    run = current;
    return file;
}

std::int64_t CaptureRuns::append(std::uint32_t id, const void* image, std::uint32_t length,
                                 std::int64_t time, const std::function<bool()>& wanted,
                                 const CaptureRun*& run) {
    std::lock_guard lock(mutex_);
    if (!wanted())
        return 0;
    CaptureRun* current = currentRun(id);
    if (!current)
        return -1;
    if (!current->log) {
        auto log = std::make_unique<CaptureLog>();
        if (!log->create(current->logPath()))
            return -1;
        current->log = std::move(log);
    }
    const std::int64_t offset = current->log->append(image, length, time);
    if (offset >= 0)
        run = current;
    return offset;
}

void CaptureRuns::deleteFile(const CaptureRun* run, std::uint32_t id) {
    std::lock_guard lock(mutex_);
    if (run->trashed)
        return; // gone with its folder
    const std::string path = run->fileName(id);
    for (int attempt = 0; attempt < 5; ++attempt)
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            return;
}

bool CaptureRuns::deleteRun(CaptureRun& run) {
    std::string deleting = cacheFolder_ + kDeletingPrefix + "XXXXXX";
    // An empty folder of a name nobody else takes, which the run's folder
    // then replaces in one step.
    if (!::mkdtemp(deleting.data()))
        return false;
    std::string folder = run.folder;
    folder.pop_back();
    if (::rename(folder.c_str(), deleting.c_str()) != 0) {
        ::rmdir(deleting.c_str());
        return false;
    }
    run.trashed = true;
    run.log.reset();
    deleteFoldersInBackground({deleting});
    return true;
}

void CaptureRuns::clear(const std::function<void()>& takeAll) {
    std::lock_guard lock(mutex_);
    takeAll();
    current_ = nullptr;
    for (const auto& run : runs_) {
        if (run->trashed)
            continue;
        if (run->openFiles == 0 && !run->keepsUnreadable && deleteRun(*run))
            continue;
        // Captures still being written, and files nobody could read, keep
        // their folder: only the log goes, whose readable captures were all
        // listed, and so all taken.
        if (!run->logDeleted) {
            run->log.reset();
            ::unlink(run->logPath().c_str());
            run->logDeleted = true;
        }
    }
}

void CaptureRuns::deleteOurs() {
    std::lock_guard lock(mutex_);
    current_ = nullptr;
    for (const auto& run : runs_) {
        if (!run->ours || run->trashed)
            continue;
        if (!deleteRun(*run)) {
            // Not movable (the file system refuses renames): deleted where it
            // is; nothing else is ever written into a run of ours.
            std::string folder = run->folder;
            folder.pop_back();
            deleteFoldersInBackground({folder});
            run->trashed = true;
            run->log.reset();
        }
    }
}

void CaptureRuns::emptyLeftovers() {
    std::vector<std::string> folders;
    if (DIR* dir = ::opendir(cacheFolder_.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (isDeletingFolderName(entry->d_name))
                folders.push_back(cacheFolder_ + entry->d_name);
        ::closedir(dir);
    }
    if (!folders.empty())
        deleteFoldersInBackground(folders);
}

void deleteFoldersInBackground(const std::vector<std::string>& folders) {
    std::vector<char*> arguments;
    std::string rm = "rm", options = "-rf", end = "--";
    arguments.push_back(rm.data());
    arguments.push_back(options.data());
    arguments.push_back(end.data());
    std::vector<std::string> copies = folders;
    for (std::string& folder : copies)
        arguments.push_back(folder.data());
    arguments.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "rm", nullptr, nullptr, arguments.data(), environ) != 0)
        return; // left for the next start
    // Reaped when it ends, should this process still be there.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}
