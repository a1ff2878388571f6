#include "support/OriginServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool isV6(const std::string& address) {
    return address.find(':') != std::string::npos;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of the first field `name` in a head, or empty.
std::string fieldValue(const std::string& head, const std::string& name) {
    const std::string lowered = lower(head);
    const std::string key = "\r\n" + lower(name) + ":";
    const auto at = lowered.find(key);
    if (at == std::string::npos)
        return {};
    const auto start = at + key.size();
    const auto end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    return value;
}

// Reads into `buffer` until it holds `needle` (true) or the peer closed.
bool readUntil(int socket, std::string& buffer, std::string_view needle, std::size_t from = 0) {
    while (buffer.find(needle, from) == std::string::npos) {
        char chunk[16384];
        const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, std::size_t(n));
    }
    return true;
}

bool readCount(int socket, std::string& buffer, std::size_t count) {
    while (buffer.size() < count) {
        char chunk[16384];
        const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, std::size_t(n));
    }
    return true;
}

} // namespace

OriginServer::OriginServer(Handler handler, const char* address)
    : handler_(std::move(handler)), address_(address),
      server_([this](int socket, int number) { serve(socket, number); }, address) {}

OriginServer::~OriginServer() = default;

std::string OriginServer::authority() const {
    return (isV6(address_) ? "[" + address_ + "]" : address_) + ":" + std::to_string(port());
}

void OriginServer::serve(int socket, int number) {
    std::string buffer;
    for (;;) {
        if (!readUntil(socket, buffer, "\r\n\r\n"))
            break;
        const auto headEnd = buffer.find("\r\n\r\n") + 4;
        OriginRequest request;
        request.head = buffer.substr(0, headEnd);
        request.connection = number;
        const auto space = request.head.find(' ');
        request.method = request.head.substr(0, space);
        request.target =
            request.head.substr(space + 1, request.head.find(' ', space + 1) - space - 1);
        buffer.erase(0, headEnd);
        const std::string length = fieldValue(request.head, "Content-Length");
        if (!readBodies) {
        } else if (!length.empty()) {
            const std::size_t count = std::stoul(length);
            if (!readCount(socket, buffer, count))
                break;
            request.body = buffer.substr(0, count);
            buffer.erase(0, count);
        } else if (lower(fieldValue(request.head, "Transfer-Encoding")) == "chunked") {
            // Enough for the bodies tests send: no trailers.
            if (!readUntil(socket, buffer, "0\r\n\r\n"))
                break;
            const auto end = buffer.find("0\r\n\r\n") + 5;
            request.body = buffer.substr(0, end);
            buffer.erase(0, end);
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            arrived_.notify_all();
        }
        if (!handler_(socket, request))
            break;
    }
    // The other side sees the end now; the number is closed by the destructor.
    ::shutdown(socket, SHUT_RDWR);
}

std::vector<OriginRequest> OriginServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void OriginServer::waitForRequests(std::size_t count) const {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return requests_.size() >= count; });
}

OriginServer::Handler OriginServer::reply(std::string bytes, bool keepOpen) {
    return [bytes = std::move(bytes), keepOpen](int socket, const OriginRequest&) {
        return sendAllBytes(socket, bytes) && keepOpen;
    };
}

std::string OriginServer::okResponse(std::string_view body, std::string_view extraFields) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraFields) + "\r\n" + std::string(body);
}

bool sendAllBytes(int socket, std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

int connectLoopback(int port, const char* address) {
    const bool v6 = isV6(address);
    const int socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET6, address, &a->sin6_addr);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, address, &a->sin_addr);
        length = sizeof *a;
    }
    if (::connect(socket, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

std::string receiveBytes(int socket, std::size_t count) {
    std::string received;
    readCount(socket, received, count);
    return received;
}

std::string rawExchange(int port, std::string_view request) {
    const int socket = connectLoopback(port);
    if (socket < 0)
        return {};
    sendAllBytes(socket, request);
    ::shutdown(socket, SHUT_WR);
    std::string received;
    readCount(socket, received, std::string::npos);
    ::close(socket);
    return received;
}

CurlResult runCurl(const std::vector<std::string>& arguments) {
    return runCurlAs({}, arguments);
}

CurlResult runCurlAs(const std::vector<std::string>& runAs,
                     const std::vector<std::string>& arguments) {
    std::vector<std::string> all = runAs;
    all.insert(all.end(), {"curl", "-q", "-s", "--max-time", "60"});
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    CurlResult result;
    if (::pipe2(out, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (error == 0) {
        char chunk[65536];
        ssize_t n;
        while ((n = ::read(out[0], chunk, sizeof chunk)) > 0)
            result.output.append(chunk, std::size_t(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(out[0]);
    return result;
}

const std::vector<std::string>& asNobody() {
    static const std::vector<std::string> prefix = {"/usr/bin/setpriv", "--reuid=65534",
                                                    "--regid=65534", "--clear-groups"};
    return prefix;
}

bool canRunAsNobody() {
    return ::geteuid() == 0 && ::access(asNobody().front().c_str(), X_OK) == 0;
}
