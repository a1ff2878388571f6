// Load for https_bench.sh: HTTPS requests through a CONNECT proxy (or
// straight to the origin, for the baseline), over
// keep-alive connections or one new TLS connection per request, verifying
// the proxy's certificates against --cafile (--full: never resuming a
// session, as a client's first visit). Prints
// "requests <n> seconds <s> errors <e>".
#include "engine/Platform.h"
#include "tls/TlsStream.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    int proxyPort = 0;
    std::string target; // host:port
    std::string path = "/";
    int connections = 1;
    double seconds = 5;
    bool fresh = false;  // a new connection for every request
    bool direct = false; // straight to the target, no proxy
    bool full = false;   // no session resumption: every handshake a full one
};

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// CONNECT through the proxy, then TLS; null on any failure.
std::unique_ptr<TlsStream> open(TlsClientContext& context, const Options& o, int& fd) {
    const std::string host = o.target.substr(0, o.target.rfind(':'));
    if (o.direct) {
        fd = connectTo(std::atoi(o.target.c_str() + o.target.rfind(':') + 1));
        return fd < 0 ? nullptr : context.connect(fd, host);
    }
    fd = connectTo(o.proxyPort);
    if (fd < 0)
        return nullptr;
    const std::string connect =
        "CONNECT " + o.target + " HTTP/1.1\r\nHost: " + o.target + "\r\n\r\n";
    if (::send(fd, connect.data(), connect.size(), MSG_NOSIGNAL) != ssize_t(connect.size()))
        return nullptr;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
        head += c;
    if (head.compare(0, 12, "HTTP/1.1 200") != 0 && head.compare(0, 12, "HTTP/1.0 200") != 0)
        return nullptr;
    return context.connect(fd, host);
}

// One request and its whole response (Content-Length framed).
bool exchange(TlsStream& tls, const Options& o, std::string& buffer, bool close) {
    const std::string request = "GET " + o.path + " HTTP/1.1\r\nHost: " + o.target +
                                (close ? "\r\nConnection: close" : "") + "\r\n\r\n";
    if (!tls.write(request.data(), std::int32_t(request.size())))
        return false;
    char chunk[16384];
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        const std::int32_t n = tls.read(chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, std::size_t(n));
    }
    if (buffer.compare(0, 12, "HTTP/1.1 200") != 0)
        return false;
    const std::size_t at = buffer.find("Content-Length:");
    if (at == std::string::npos || at > end)
        return false;
    const std::size_t total = end + 4 + std::strtoul(buffer.c_str() + at + 15, nullptr, 10);
    while (buffer.size() < total) {
        const std::int32_t n = tls.read(chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, std::size_t(n));
    }
    buffer.erase(0, total);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::string cafile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--proxy")
            o.proxyPort = std::atoi(value), ++i;
        else if (arg == "--target")
            o.target = value, ++i;
        else if (arg == "--path")
            o.path = value, ++i;
        else if (arg == "--cafile")
            cafile = value, ++i;
        else if (arg == "--connections")
            o.connections = std::atoi(value), ++i;
        else if (arg == "--seconds")
            o.seconds = std::atof(value), ++i;
        else if (arg == "--new")
            o.fresh = true;
        else if (arg == "--direct")
            o.direct = true;
        else if (arg == "--full")
            o.full = true;
    }
    if ((!o.proxyPort && !o.direct) || o.target.empty() || cafile.empty()) {
        std::fprintf(stderr, "usage: bench_https_client (--proxy PORT | --direct) --target "
                             "HOST:PORT --cafile FILE [--path P] [--connections N] [--seconds S] "
                             "[--new [--full]]\n");
        return 2;
    }
    setenv("SSL_CERT_FILE", cafile.c_str(), 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    TlsClientContext context;

    std::atomic<long long> requests{0};
    std::atomic<long long> errors{0};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::duration<double>(o.seconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < o.connections; ++t) {
        threads.emplace_back([&] {
            while (std::chrono::steady_clock::now() < until) {
                int fd = -1;
                // A context of its own keeps no session to resume.
                std::unique_ptr<TlsClientContext> own =
                    o.full ? std::make_unique<TlsClientContext>() : nullptr;
                std::unique_ptr<TlsStream> tls = open(own ? *own : context, o, fd);
                std::string buffer;
                bool ok = tls != nullptr;
                while (ok && std::chrono::steady_clock::now() < until) {
                    ok = exchange(*tls, o, buffer, o.fresh);
                    if (ok)
                        ++requests;
                    if (o.fresh)
                        break;
                }
                if (!ok)
                    ++errors;
                if (tls)
                    tls->closeNotify();
                tls.reset();
                if (fd >= 0)
                    ::close(fd);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("requests %lld seconds %.3f errors %lld\n", requests.load(), elapsed,
                errors.load());
    return 0;
}
