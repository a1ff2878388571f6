// A small origin server on 127.0.0.1 for end-to-end capture tests, and a way
// to run the real curl through the proxy.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Accepts connections on an ephemeral loopback port; for each, reads one
// request head (and a body announced by Content-Length), records the head,
// and hands the socket to the handler, which writes the response. The
// connection is closed after the handler returns.
class LoopbackOrigin {
public:
    using Handler = std::function<void(int socket, const std::string& head)>;

    explicit LoopbackOrigin(Handler handler) : handler_(std::move(handler)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listen_, 64), 0);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~LoopbackOrigin() {
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        acceptor_.join();
        for (auto& worker : workers_)
            worker.join();
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::vector<std::string> heads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return heads_;
    }

    // Writes all bytes; false when the peer went away.
    static bool sendAll(int socket, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += std::size_t(n);
        }
        return true;
    }

private:
    void acceptLoop() {
        while (!stopping_) {
            const int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0)
                continue;
            workers_.emplace_back([this, client] { serve(client); });
        }
    }

    void serve(int client) {
        std::string received;
        char bytes[65536];
        std::size_t headEnd;
        while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(client, bytes, sizeof bytes, 0);
            if (n <= 0) {
                ::close(client);
                return;
            }
            received.append(bytes, std::size_t(n));
        }
        const std::string head = received.substr(0, headEnd + 4);
        // Read a request body announced by Content-Length before answering.
        std::size_t bodyLength = 0;
        for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"})
            if (auto at = head.find(name); at != std::string::npos)
                bodyLength = std::stoul(head.substr(at + std::strlen(name)));
        while (received.size() - head.size() < bodyLength) {
            const ssize_t n = ::recv(client, bytes, sizeof bytes, 0);
            if (n <= 0)
                break;
            received.append(bytes, std::size_t(n));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            heads_.push_back(head);
        }
        handler_(client, head);
        ::shutdown(client, SHUT_WR);
        while (::recv(client, bytes, sizeof bytes, 0) > 0) {
        }
        ::close(client);
    }

    Handler handler_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_; // only the acceptor adds; joined after it
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
};

struct CurlResult {
    int exitCode = -1;
    std::string headers; // response heads as the client saw them
};

// Runs curl through the proxy at 127.0.0.1:proxyPort, saving the body to
// `output`. Extra arguments go before the URL.
inline CurlResult runCurl(int proxyPort, const std::string& url, const std::string& output,
                          const std::vector<std::string>& extra = {}) {
    const std::string headerFile = output + ".headers";
    std::vector<std::string> args = {"curl",
                                     "--silent",
                                     "--show-error",
                                     "--max-time",
                                     "60",
                                     "--noproxy",
                                     "",
                                     "--proxy",
                                     "http://127.0.0.1:" + std::to_string(proxyPort),
                                     "--output",
                                     output,
                                     "--dump-header",
                                     headerFile};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    // Built before fork: the child of a threaded process must not allocate.
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execvp("curl", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    CurlResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* file = std::fopen(headerFile.c_str(), "rb")) {
        char bytes[4096];
        std::size_t n;
        while ((n = std::fread(bytes, 1, sizeof bytes, file)) > 0)
            result.headers.append(bytes, n);
        std::fclose(file);
    }
    return result;
}
