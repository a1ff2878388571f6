#include "ui/panes/PreviewFile.h"

#include "engine/Platform.h"
#include "store/CacheFolder.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr const char* kSubfolder = "Merovex/Tidewell/Preview/";

bool isPreviewName(const char* name) {
    const std::string_view text(name);
    return text.size() > 5 && text.front() == '~' && text.substr(text.size() - 4) == ".tmp";
}

} // namespace

std::string PreviewFile::folder() {
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = cache;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.cache";
    } else {
        setLastError(ENOENT);
        return {};
    }
    if (base.back() != '/')
        base += '/';
    const std::string path = base + kSubfolder;
    if (!CacheFolder::createFolder(path))
        return {};
    return path;
}

bool PreviewFile::create() {
    remove();
    const std::string where = folder();
    if (where.empty())
        return false;
    std::string pattern = where + "~" + std::to_string(::getpid()) + "-XXXXXX.tmp";
    const int fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC); // 0600
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    fd_ = fd;
    path_ = pattern;
    return true;
}

void PreviewFile::remove() {
    if (!path_.empty())
        ::unlink(path_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
    path_.clear();
    fd_ = -1;
}

void PreviewFile::removeStale() {
    const std::string where = folder();
    DIR* dir = where.empty() ? nullptr : ::opendir(where.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isPreviewName(entry->d_name))
            continue;
        const std::string path = where + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Unlocked: its process is gone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}
