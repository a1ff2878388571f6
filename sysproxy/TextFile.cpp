#include "sysproxy/TextFile.h"

#include "engine/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool TextFile::read(const std::string& path, off_t maxSize, std::string& text, bool& exists) {
    text.clear();
    exists = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        setLastErrorFromErrno();
        return false;
    }
    struct stat st {};
    int error = ::fstat(fd, &st) != 0 ? errno : 0;
    if (!error && !S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (!error && st.st_size > maxSize)
        error = EFBIG;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char buffer[16384];
    while (!error) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(maxSize))
            error = EFBIG; // it grew while being read
    }
    ::close(fd);
    if (error) {
        setLastError(static_cast<std::uint32_t>(error));
        text.clear();
        return false;
    }
    exists = true;
    return true;
}

bool TextFile::replace(const std::string& path, const std::string& text, mode_t mode) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data()); // created 0600
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    if ((mode != 0600 && ::fchmod(fd, mode) != 0) || !writeAll(fd, text) || ::fsync(fd) != 0) {
        setLastErrorFromErrno();
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        setLastErrorFromErrno();
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string TextFile::configFolder() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home && home[0] == '/') {
            base = home;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            base = pw->pw_dir;
        }
        base += "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base;
}

std::string TextFile::folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool TextFile::makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        setLastError(ENOTDIR);
        return false;
    }
    if (folder != "/" && folder != "." && !makeFolders(folderOf(folder)))
        return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}
