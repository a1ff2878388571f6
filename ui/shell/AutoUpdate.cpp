#include "ui/shell/AutoUpdate.h"

#include "engine/HttpMessageHeader.h"
#include "engine/HttpReader.h"
#include "engine/Stream.h"
#include "engine/Url.h"
#include "resources/StringTable.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kReceiveLimit = 1023;

struct Endpoint {
    std::string host;
    std::string service;
    std::string authority; // for the Host field
};

// Where to connect for `url`, honouring the test and deployment override;
// false when the exchanges are switched off or the address has no host.
bool endpointFor(const Url& url, Endpoint& out) {
    Url target = url;
    if (const char* server = std::getenv(AutoUpdate::kServerVariable)) {
        if (!*server)
            return false;
        target.authority = server;
        target.flags |= Url::HasAuthority;
    }
    std::string userInfo;
    std::int32_t port = 80;
    if (!target.splitAuthority(userInfo, out.host, port) || out.host.empty() || port <= 0 ||
        port > 65535)
        return false;
    out.service = std::to_string(port);
    out.authority = target.authority;
    return true;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Name resolution cannot be interrupted, so it runs on a thread of its own
// that the check abandons when cancelled: a stalled resolver then delays
// nobody. The state is shared and freed by whichever side finishes last.
struct Resolution {
    Resolution() : doneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Resolution() {
        if (result)
            ::freeaddrinfo(result);
        if (doneFd >= 0)
            ::close(doneFd);
    }
    int doneFd;
    std::mutex mutex;
    addrinfo* result = nullptr;
    int status = EAI_FAIL;
};

// Waits until `fd` is ready for `events`, the cancel descriptor fires, or
// the deadline passes (timeoutMs < 0: none). True only for `fd` ready.
bool waitFor(int fd, short events, int cancelFd, int timeoutMs) {
    for (;;) {
        pollfd fds[2];
        nfds_t count = 0;
        if (cancelFd >= 0)
            fds[count++] = {cancelFd, POLLIN, 0};
        const nfds_t target = count;
        fds[count++] = {fd, events, 0};
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        if (target > 0 && fds[0].revents)
            return false;
        return (fds[target].revents & (events | POLLERR | POLLHUP)) != 0;
    }
}

// Resolves `endpoint` as an IPv4 stream address. Null on failure or cancel.
std::shared_ptr<Resolution> resolve(const Endpoint& endpoint, int cancelFd, int timeoutMs) {
    auto state = std::make_shared<Resolution>();
    if (state->doneFd < 0)
        return nullptr;
    try {
        std::thread([state, host = endpoint.host, service = endpoint.service] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_protocol = IPPROTO_TCP;
            addrinfo* result = nullptr;
            const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
            std::lock_guard lock(state->mutex);
            state->result = result;
            state->status = status;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(state->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    if (!waitFor(state->doneFd, POLLIN, cancelFd, timeoutMs))
        return nullptr;
    std::lock_guard lock(state->mutex);
    if (state->status != 0 || !state->result)
        return nullptr;
    return state;
}

// Milliseconds left before `deadline`, or -1 (no limit) for a zero deadline.
int remaining(std::chrono::steady_clock::time_point deadline) {
    if (deadline == std::chrono::steady_clock::time_point{})
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// One exchange: connect, send `request`, and receive at most kReceiveLimit
// bytes until the peer closes. Every wait also watches `cancelFd` and the
// deadline. False when the exchange broke off before the answer.
bool exchange(const std::string& address, const char* userAgent, int cancelFd,
              std::chrono::steady_clock::time_point deadline, std::string& answer) {
    Url url;
    url.parse(address);
    Endpoint endpoint;
    if (!endpointFor(url, endpoint))
        return false;
    url.authority = endpoint.authority;
    const std::string request = AutoUpdate::requestText(url, userAgent);

    const std::shared_ptr<Resolution> resolution = resolve(endpoint, cancelFd, remaining(deadline));
    if (!resolution)
        return false;
    const addrinfo* first = resolution->result;
    Fd socket(::socket(first->ai_family, first->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       first->ai_protocol));
    if (socket.get() < 0)
        return false;
    if (::connect(socket.get(), first->ai_addr, first->ai_addrlen) != 0) {
        if (errno != EINPROGRESS || !waitFor(socket.get(), POLLOUT, cancelFd, remaining(deadline)))
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return false;
    }

    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t count =
            ::send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(socket.get(), POLLOUT, cancelFd, remaining(deadline)))
                return false;
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }

    char buffer[kReceiveLimit + 1];
    std::size_t received = 0;
    while (received < static_cast<std::size_t>(kReceiveLimit)) {
        const ssize_t count = ::recv(socket.get(), buffer + received, kReceiveLimit - received, 0);
        if (count > 0) {
            received += static_cast<std::size_t>(count);
        } else if (count == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(socket.get(), POLLIN, cancelFd, remaining(deadline)))
                return false;
        } else if (errno != EINTR) {
            break;
        }
    }
    answer.assign(buffer, received);
    ::shutdown(socket.get(), SHUT_RDWR);
    return true;
}

} // namespace

AutoUpdate::~AutoUpdate() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(cancelFd_, &one, sizeof one);
        thread_.join();
    }
    if (cancelFd_ >= 0)
        ::close(cancelFd_);
}

void AutoUpdate::wait() {
    if (thread_.joinable())
        thread_.join();
}

bool AutoUpdate::start(Notify notify, const std::string& productVersion,
                       const std::string& userId) {
    if (thread_.joinable() || cancelFd_ >= 0)
        return false;
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd_ < 0)
        return false;
    notify_ = std::move(notify);
    try {
        thread_ = std::thread(&AutoUpdate::run, this, formatAddress(171, productVersion, userId));
    } catch (const std::system_error&) {
        ::close(cancelFd_);
        cancelFd_ = -1;
        return false;
    }
    return true;
}

void AutoUpdate::run(const std::string& address) {
    std::string answer;
    if (!exchange(address, "Merovex Update 1.0", cancelFd_, {}, answer))
        return;
    // The status code does not matter: only the field does.
    BufferInputStream input(answer.data(), static_cast<std::int32_t>(answer.size()));
    HttpReader reader(&input, 65536);
    HttpResponseHeader header;
    if (!reader.readResponseHeader(header))
        return;
    const HttpHeaderField* field = header.get("Update-URL");
    if (!field)
        return;
    updateUrl = field->value;
    available = true;
    if (notify_)
        notify_();
}

std::string AutoUpdate::formatAddress(unsigned stringId, const std::string& first,
                                      const std::string& second) {
    const char* format = loadString(stringId);
    std::string out;
    if (!format)
        return out;
    int filled = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += filled++ == 0 ? first : second;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string AutoUpdate::requestText(const Url& url, const char* userAgent) {
    std::string text = "GET ";
    text += url.path;
    text += '?';
    text += url.query;
    text += " HTTP/1.0\r\nUser-Agent: ";
    text += userAgent;
    text += "\r\nConnection: close\r\nHost: ";
    text += url.authority;
    text += "\r\n\r\n";
    return text;
}

void AutoUpdate::sendUninstallNotification(const std::string& productVersion,
                                           const std::string& userId) {
    std::string answer;
    exchange(formatAddress(173, productVersion, userId), "Tidewell", -1,
             std::chrono::steady_clock::now() + std::chrono::milliseconds(kUninstallTimeoutMs),
             answer);
}
