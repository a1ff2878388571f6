#include "sysproxy/ProxyGuardian.h"

#include "sysproxy/SystemProxy.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

int guardianPid = 0;
// The program's end of the pipe: open until this process ends.
int watchedFd = -1;

void keepOnly(int keep, int closeLast) {
    // The guardian must hold nothing of the program's: a socket or lock
    // kept open here would outlive the program.
    std::vector<int> open;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > 2 && fd != keep && fd != closeLast &&
                fd != ::dirfd(dir))
                open.push_back(fd);
        }
        ::closedir(dir);
    }
    for (int fd : open)
        ::close(fd);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (null > STDERR_FILENO)
            ::close(null);
    }
}

// `ready` is closed last of all, once the guardian is apart and named: that
// lets the program go on.
[[noreturn]] void guard(int watch, int ready, pid_t program) {
    ::setsid();
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
        std::signal(number, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::prctl(PR_SET_NAME, "tidewell-guard");
    keepOnly(watch, ready);
    ::close(ready);

    char buffer[64];
    for (;;) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    bool restored = false;
    if (!SystemProxy::recoverAfter(program, restored))
        std::fprintf(stderr, "tidewell: the proxy settings could not be given back after the "
                             "program ended; they will be offered at its next start\n");
    ::_exit(0);
}

} // namespace

bool ProxyGuardian::start() {
    if (guardianPid)
        return true;
    int fds[2], ready[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    const pid_t program = ::getpid();
    std::fflush(nullptr); // or buffered output would be written twice
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[1]);
        ::close(ready[0]);
        guard(fds[0], ready[1], program);
    }
    ::close(fds[0]);
    ::close(ready[1]);
    if (child < 0) {
        ::close(fds[1]);
        ::close(ready[0]);
        return false;
    }
    // Until the guardian has left our process group, a Ctrl+C meant for the
    // program would end it too.
    char byte;
    while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    watchedFd = fds[1];
    guardianPid = child;
    return true;
}

int ProxyGuardian::pid() {
    return guardianPid;
}
