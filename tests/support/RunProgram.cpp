#include "support/RunProgram.h"

#include "support/ScopedDataHome.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef TIDEWELL_SOURCE_DIR
#error "tests need TIDEWELL_SOURCE_DIR"
#endif

ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment) {
    ProgramResult result;
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // An entry given replaces the inherited one of the same name: a program reading its
    // environment sees the first of two.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(environment.begin(), environment.end(),
                         [&](const std::string& given) { return given.rfind(name, 0) == 0; }))
            env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (error == 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* sinks[2] = {&result.output, &result.errors};
        int open = 2;
        while (open > 0) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char chunk[65536];
                const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    sinks[i]->append(chunk, std::size_t(n));
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(out[0]);
    ::close(err[0]);
    return result;
}

std::vector<std::string> HarCheck::facts(int entry, const std::string& what) const {
    const std::string prefix = std::to_string(entry) + " " + what + " ";
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line.substr(prefix.size()));
    return found;
}

std::string hexOf(const std::string& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

HarCheck checkHar(const std::string& harPath) {
    HarCheck check;
    TempFolder bodies;
    const ProgramResult run = runProgram(
        {"python3", TIDEWELL_SOURCE_DIR "/tests/support/har_check.py", harPath, bodies.path()});
    check.ran = run.exitCode == 0 || run.exitCode == 1;
    check.problems = run.exitCode == 0 ? std::string()
                                       : run.errors + "(exit " + std::to_string(run.exitCode) + ")";
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);)
        check.lines.push_back(line);
    if (DIR* dir = opendir(bodies.path().c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            const std::size_t dot = name.find('.');
            if (dot == std::string::npos || dot == 0)
                continue;
            std::ifstream in(bodies.path() + "/" + name, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            const int entry = std::atoi(name.substr(0, dot).c_str());
            (name.substr(dot) == ".post" ? check.posts : check.contents)[entry] = bytes.str();
        }
        closedir(dir);
    }
    return check;
}
