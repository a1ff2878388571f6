#include "tls/Subprocess.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> argv(const std::vector<std::string>& arguments) {
    std::vector<char*> out;
    for (const std::string& argument : arguments)
        out.push_back(const_cast<char*>(argument.c_str()));
    out.push_back(nullptr);
    return out;
}

// This process's environment with each "NAME=value" of `changes` in place
// of the variable of that name.
std::vector<std::string> changedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> out;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view current(*entry);
        bool replaced = false;
        for (const std::string& change : changes) {
            const std::size_t equals = change.find('=');
            replaced = replaced || (current.size() > equals && current[equals] == '=' &&
                                    current.substr(0, equals) == change.substr(0, equals));
        }
        if (!replaced)
            out.emplace_back(current);
    }
    out.insert(out.end(), changes.begin(), changes.end());
    return out;
}

pid_t spawn(const std::vector<std::string>& arguments, int outputFd, bool ownSession,
            const std::vector<std::string>& environment = {}) {
    if (arguments.empty()) {
        setLastError(EINVAL);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    }
    // The child starts with default signal handling, whatever this process
    // ignores or blocks.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = -1;
    std::vector<char*> args = argv(arguments);
    const std::vector<std::string> changed = changedEnvironment(environment);
    std::vector<char*> variables = argv(changed);
    const int error = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(),
                                   environment.empty() ? environ : variables.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        setLastError(std::uint32_t(error));
        return -1;
    }
    return pid;
}

} // namespace

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string folder = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

int runProgram(const std::vector<std::string>& arguments, std::string& output) {
    output.clear();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        setLastErrorFromErrno();
        return -1;
    }
    const pid_t pid = spawn(arguments, fds[1], false);
    ::close(fds[1]);
    if (pid < 0) {
        const std::uint32_t code = lastError();
        ::close(fds[0]);
        setLastError(code);
        return -1;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return ::read(fds[0], chunk, sizeof chunk); });
        if (n <= 0)
            break;
        // Enough for any message of the tools we run.
        if (output.size() < (1 << 20))
            output.append(chunk, std::size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (retryInterrupted([&] { return ::waitpid(pid, &status, 0); }) < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    if (!WIFEXITED(status)) {
        setLastError(EINTR);
        return -1;
    }
    return WEXITSTATUS(status);
}

pid_t startProgram(const std::vector<std::string>& arguments, bool ownSession,
                   const std::vector<std::string>& environment) {
    return spawn(arguments, -1, ownSession, environment);
}
