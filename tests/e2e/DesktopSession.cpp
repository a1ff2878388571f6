#include "e2e/DesktopSession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <zlib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

void appendFile(const std::string& path, const std::string& text) {
    if (path.empty())
        return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
    ::close(fd);
}

std::chrono::milliseconds remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        out.push_back(unescape(text.substr(start, tab - start)));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

// Reads `count` blank-separated words from `in`, and the rest of the line.
std::vector<std::string> words(std::istringstream& in, int count, std::string& rest) {
    std::vector<std::string> out(count);
    for (auto& w : out)
        in >> w;
    std::getline(in, rest);
    if (!rest.empty() && rest.front() == ' ')
        rest.erase(0, 1);
    return out;
}

void linkRows(std::vector<ProbeRow>& rows) {
    std::vector<int> stack;
    for (int i = 0; i < int(rows.size()); ++i) {
        stack.resize(std::min<std::size_t>(stack.size(), std::size_t(rows[i].depth)));
        rows[i].parent = stack.empty() ? -1 : stack.back();
        stack.push_back(i);
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& env,
                           const std::string& logPath, bool pipeStderr, int passFd)
    : logPath_(logPath) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : env)
        envStrings.push_back(name + "=" + value);
    auto argp = pointers(args);
    auto envp = pointers(envStrings);
    int errPipe[2] = {-1, -1};
    if (pipeStderr && ::pipe2(errPipe, O_CLOEXEC) != 0)
        return;
    const int log = logPath.empty()
                        ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                        : ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        // Goes with the test even when the test is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(log, 1);
        ::dup2(pipeStderr ? errPipe[1] : log, 2);
        if (passFd >= 0) {
            ::dup2(passFd, 3);
        }
        ::execvpe(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(log);
    if (pipeStderr) {
        ::close(errPipe[1]);
        stderrFd_ = errPipe[0];
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        // Its own process group: helpers it started go with it.
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(10));
    }
    if (stderrFd_ >= 0)
        ::close(stderrFd_);
}

bool ChildProcess::running() {
    if (pid_ <= 0 || ended_)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0)
        return true;
    ended_ = true;
    if (r == pid_)
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
}

bool ChildProcess::wait(std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    // A process's end is not a readable descriptor here; look often.
    while (running()) {
        if (Clock::now() >= deadline)
            return false;
        if (stderrFd_ >= 0) {
            char bytes[4096];
            pollfd p{stderrFd_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                const ssize_t n = ::read(stderrFd_, bytes, sizeof bytes);
                if (n > 0) {
                    appendFile(logPath_, std::string(bytes, std::size_t(n)));
                    pending_.append(bytes, std::size_t(n));
                }
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return true;
}

std::string ChildProcess::waitForLine(const std::string& prefix,
                                      std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        std::size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.compare(0, prefix.size(), prefix) == 0)
                return line;
        }
        if (stderrFd_ < 0 || Clock::now() >= deadline)
            return {};
        pollfd p{stderrFd_, POLLIN, 0};
        if (::poll(&p, 1, int(remaining(deadline).count())) <= 0)
            return {};
        char bytes[4096];
        const ssize_t n = ::read(stderrFd_, bytes, sizeof bytes);
        if (n <= 0)
            return {};
        appendFile(logPath_, std::string(bytes, std::size_t(n)));
        pending_.append(bytes, std::size_t(n));
    }
}

void ChildProcess::signal(int number) {
    if (running())
        ::kill(pid_, number);
}

std::string runProgram(const std::vector<std::string>& argv, const Environment& env, bool* ok,
                       std::chrono::milliseconds patience) {
    char path[] = "/tmp/tidewell-e2e-out.XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        if (ok)
            *ok = false;
        return {};
    }
    ::close(fd);
    bool done = false;
    {
        ChildProcess child(argv, env, path);
        done = child.wait(patience) && child.exitCode() == 0;
    }
    std::string out;
    if (FILE* f = std::fopen(path, "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            out.append(buffer, n);
        std::fclose(f);
    }
    ::unlink(path);
    if (ok)
        *ok = done;
    return done ? out : std::string();
}

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

pid_t guardianOf(pid_t program) {
    pid_t found = 0;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return 0;
    while (const dirent* entry = ::readdir(dir)) {
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string stat;
        std::getline(in, stat);
        // pid (name) state parent ...
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(tidewell-guard)") == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == program)
            found = pid_t(std::atoi(entry->d_name));
    }
    ::closedir(dir);
    return found;
}

bool waitForEnd(pid_t pid, std::chrono::milliseconds patience) {
    const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return errno == ESRCH;
    pollfd p{fd, POLLIN, 0};
    const bool ended = ::poll(&p, 1, int(patience.count())) == 1;
    ::close(fd);
    return ended;
}

std::vector<std::string> quietChromiumArguments(const std::string& chromium) {
    return {chromium,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-extensions",
            "--disable-default-apps",
            "--disable-breakpad",
            "--disable-client-side-phishing-detection",
            "--disable-domain-reliability",
            "--metrics-recording-only",
            "--no-default-browser-check",
            "--no-service-autorun",
            "--password-store=basic",
            "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,MediaRouter,"
            "Translate,AutofillServerCommunication,CertificateTransparencyComponentUpdater",
            "--component-updater=url-source=http://127.0.0.1:9/",
            "--gaia-url=http://127.0.0.1:9/"};
}

VirtualDisplay::VirtualDisplay(const std::string& logPath, int width, int height) {
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    Environment env;
    if (const char* path = std::getenv("PATH"))
        env["PATH"] = path;
    // Xvfb writes the display number it took to descriptor 3.
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten",
                                 "tcp", "-noreset"},
        env, logPath, false, fds[1]);
    ::close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, int(remaining(deadline).count())) <= 0)
            break;
        char bytes[32];
        const ssize_t n = ::read(fds[0], bytes, sizeof bytes);
        if (n <= 0)
            break;
        number.append(bytes, std::size_t(n));
    }
    ::close(fds[0]);
    if (number.find('\n') != std::string::npos)
        name_ = ":" + number.substr(0, number.find('\n'));
}

bool requestWindowClose(const std::string& display, unsigned long window) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(x, window, False, NoEventMask, &event);
    XSync(x, False);
    XCloseDisplay(x);
    return sent != 0;
}

const ProbeButton* ProbeState::button(const std::string& text) const {
    for (const auto& b : buttons) {
        if (b.text == text || b.name == text)
            return &b;
    }
    return nullptr;
}

const ProbeTarget* ProbeState::menuItem(const std::string& text) const {
    for (const auto& m : menuItems) {
        if (m.text == text)
            return &m;
    }
    return nullptr;
}

const ProbeTarget* ProbeState::tab(const std::string& text) const {
    for (const auto& t : tabs) {
        if (t.text == text)
            return &t;
    }
    return nullptr;
}

const ProbePane* ProbeState::pane(const std::string& title) const {
    for (const auto& p : panes) {
        if (p.title == title)
            return &p;
    }
    return nullptr;
}

int ProbeState::row(const std::string& name) const {
    for (int i = 0; i < int(rows.size()); ++i) {
        if (!rows[i].cells.empty() && rows[i].cells[0] == name && rows[i].cells.size() > 2 &&
            !rows[i].cells[2].empty())
            return i;
    }
    return -1;
}

bool ProbeState::statusHas(const std::string& text) const {
    for (const auto& s : status) {
        if (s.find(text) != std::string::npos)
            return true;
    }
    return false;
}

ProbeState parseProbe(const std::string& text) {
    ProbeState state;
    state.raw = text;
    state.valid = !text.empty();
    std::istringstream lines(text);
    std::string line;
    ProbePane* pane = nullptr;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string kind, rest;
        in >> kind;
        if (kind == "window") {
            const auto w = words(in, 6, rest);
            ProbeWindow window;
            window.id = std::strtoul(w[0].c_str(), nullptr, 0);
            window.x = std::atoi(w[1].c_str());
            window.y = std::atoi(w[2].c_str());
            window.width = std::atoi(w[3].c_str());
            window.height = std::atoi(w[4].c_str());
            window.modal = w[5] == "1";
            const std::size_t blank = rest.find(' ');
            window.className = rest.substr(0, blank);
            window.title = blank == std::string::npos ? "" : unescape(rest.substr(blank + 1));
            state.windows.push_back(window);
        } else if (kind == "text") {
            const auto w = words(in, 1, rest);
            state.messageTexts.push_back(unescape(rest));
        } else if (kind == "button") {
            const auto w = words(in, 5, rest);
            ProbeButton b;
            b.x = std::atoi(w[0].c_str());
            b.y = std::atoi(w[1].c_str());
            b.enabled = w[2] == "1";
            b.checked = w[3] == "1";
            b.className = w[4];
            const std::size_t first = rest.find(" | ");
            const std::size_t second =
                first == std::string::npos ? first : rest.find(" | ", first + 3);
            b.text = unescape(rest.substr(0, first));
            if (second != std::string::npos) {
                b.name = unescape(rest.substr(first + 3, second - first - 3));
                b.toolTip = unescape(rest.substr(second + 3));
            }
            state.buttons.push_back(b);
        } else if (kind == "tab" || kind == "menu") {
            const bool menu = kind == "menu";
            const auto w = words(in, menu ? 4 : 3, rest);
            ProbeTarget t;
            t.x = std::atoi(w[0].c_str());
            t.y = std::atoi(w[1].c_str());
            if (menu) {
                t.enabled = w[2] == "1";
                t.checked = w[3] == "1";
            } else {
                t.enabled = true;
                t.checked = w[2] == "1";
            }
            t.text = unescape(rest);
            (menu ? state.menuItems : state.tabs).push_back(t);
        } else if (kind == "action") {
            const auto w = words(in, 1, rest);
            ProbeTarget t;
            t.checked = w[0] == "1";
            t.text = unescape(rest);
            state.actions.push_back(t);
        } else if (kind == "status") {
            words(in, 0, rest);
            state.status.push_back(unescape(rest));
        } else if (kind == "style") {
            words(in, 0, rest);
            state.style = unescape(rest);
        } else if (kind == "keytips") {
            words(in, 0, rest);
            state.keyTips = std::atoi(rest.c_str());
        } else if (kind == "filter") {
            const auto w = words(in, 2, rest);
            state.filterShown = std::atoi(w[0].c_str());
            state.filterRows = std::atoi(w[1].c_str());
            state.filterText = unescape(rest);
        } else if (kind == "list") {
            const auto w = words(in, 1, rest);
            if (pane)
                pane->rowCount = std::atoi(w[0].c_str());
            else
                state.listCount = std::atoi(w[0].c_str());
        } else if (kind == "row") {
            const auto w = words(in, 5, rest);
            ProbeRow r;
            r.depth = std::atoi(w[0].c_str());
            r.x = std::atoi(w[1].c_str());
            r.y = std::atoi(w[2].c_str());
            r.selected = w[3] == "1";
            r.expanded = w[4] == "1";
            r.cells = splitTabs(rest);
            (pane ? pane->rows : state.rows).push_back(r);
        } else if (kind == "pane") {
            const auto w = words(in, 2, rest);
            ProbePane p;
            p.visible = w[0] == "1";
            p.ink = std::atoi(w[1].c_str());
            p.title = unescape(rest);
            state.panes.push_back(p);
            pane = &state.panes.back();
        } else if (kind == "line" && pane) {
            std::string rest2;
            std::getline(in, rest2);
            if (!rest2.empty() && rest2.front() == ' ')
                rest2.erase(0, 1);
            pane->lines.push_back(unescape(rest2));
        }
    }
    linkRows(state.rows);
    for (auto& p : state.panes)
        linkRows(p.rows);
    return state;
}

ProbeState askProbe(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    std::string text;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, "dump\n", 5, MSG_NOSIGNAL) == 5) {
        char buffer[16384];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            text.append(buffer, std::size_t(n));
        }
    }
    ::close(fd);
    return parseProbe(text);
}

ProbeState waitForState(const std::string& socketPath,
                        const std::function<bool(const ProbeState&)>& condition,
                        std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        ProbeState state = askProbe(socketPath);
        if ((state.valid && condition(state)) || Clock::now() >= deadline)
            return state;
        // The window changes on its own time; ask again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string pngPicture(int width, int height) {
    auto be32 = [](std::string& s, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            s += char((v >> shift) & 0xFF);
    };
    auto chunk = [&](std::string& png, const char* type, const std::string& data) {
        be32(png, std::uint32_t(data.size()));
        std::string body = std::string(type, 4) + data;
        png += body;
        be32(png, std::uint32_t(
                      crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    };
    std::string header;
    be32(header, std::uint32_t(width));
    be32(header, std::uint32_t(height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        for (int x = 0; x < width; ++x) {
            const int band = (y * 4 / height);
            const unsigned char colours[4][3] = {
                {0x1e, 0x88, 0xe5}, {0xff, 0xc1, 0x07}, {0x43, 0xa0, 0x47}, {0xe5, 0x39, 0x35}};
            raw.append(reinterpret_cast<const char*>(colours[band]), 3);
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
              reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
    packed.resize(size);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});
    return png;
}
