// Set-up shared by the capture benchmarks: what a Document needs around it,
// and a private data home for its cache folder, removed at the end.
#pragma once

#include "engine/HttpMessageHeader.h"
#include "store/Document.h"
#include "tests/support/DocumentStandIns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

// Answers every question and prints what the user would be shown: a run that
// met a message has measured something else.
struct BenchUi : DocumentUi {
    bool askOkCancel(const std::string&) override { return true; }
    Answer askYesNoCancel(const std::string&) override { return Answer::No; }
    void showMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void setStatusText(const std::string&) override {}
};

// A fresh XDG_DATA_HOME below $TMPDIR (default /tmp) for the lifetime of the
// run.
class BenchDataHome {
public:
    BenchDataHome() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tidewell-bench.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern;
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
    }
    ~BenchDataHome() {
        // A folder deleted in the background may lose files under our feet:
        // those are taken again until nothing is left.
        std::error_code error;
        for (int attempt = 0; attempt < 100 && std::filesystem::exists(path_, error); ++attempt)
            std::filesystem::remove_all(path_, error);
    }
    BenchDataHome(const BenchDataHome&) = delete;
    BenchDataHome& operator=(const BenchDataHome&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A value of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), -1 when missing.
inline long statusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// One small exchange as a browser makes it (a 1 KiB image with the usual
// heads), through the capture filter as a connection thread drives it.
inline void captureSmallExchange(Document& document, int number) {
    static const std::string body(1024, 'p');
    const std::string icon = std::to_string(10000 + number % 10000).substr(1);
    const std::string requestBlock =
        "GET http://www.example.com/static/images/sprites/icon-" + icon +
        ".png?v=20240101 HTTP/1.1\r\n"
        "Host: www.example.com\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0\r\n"
        "Accept: image/avif,image/webp,*/*\r\nAccept-Language: en-US,en;q=0.5\r\n"
        "Accept-Encoding: gzip, deflate, br\r\nConnection: keep-alive\r\n"
        "Referer: http://www.example.com/index.html\r\nCookie: session=0123456789abcdef\r\n";
    static const std::string responseBlock =
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
        "Content-Type: image/png\r\nContent-Length: 1024\r\nCache-Control: max-age=3600\r\n"
        "ETag: \"5f3e-400\"\r\n";
    HttpRequestHeader request;
    parseRequestHeader(requestBlock.data(), std::int32_t(requestBlock.size()), request);
    HttpResponseHeader response;
    parseResponseHeader(responseBlock.data(), std::int32_t(responseBlock.size()), response);
    const int handle = document.filter.beginRequest(0, request);
    document.filter.beginResponse(handle, response);
    document.filter.responseData(handle, body.data(), std::int32_t(body.size()));
    document.filter.endExchange(handle, 0);
}

// A keep-alive origin on 127.0.0.1: each request gets the whole response the
// function makes for its target. Its threads run until the process ends.
class BenchOrigin {
public:
    using Answer = std::function<std::string(const std::string& target)>;

    explicit BenchOrigin(Answer answer) : answer_(std::move(answer)) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listen_, 512);
        socklen_t length = sizeof address;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        std::thread([this] {
            for (;;) {
                const int client = accept(listen_, nullptr, nullptr);
                if (client < 0)
                    return;
                std::thread([this, client] { serve(client); }).detach();
            }
        }).detach();
    }
    BenchOrigin(const BenchOrigin&) = delete;
    BenchOrigin& operator=(const BenchOrigin&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }

    int port = 0;

private:
    void serve(int client) {
        int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string pending;
        char bytes[16384];
        for (;;) {
            const ssize_t n = recv(client, bytes, sizeof bytes, 0);
            if (n <= 0)
                break;
            pending.append(bytes, std::size_t(n));
            std::size_t end;
            std::string out;
            while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
                const std::size_t space = pending.find(' ');
                const std::size_t stop = pending.find(' ', space + 1);
                std::string target = pending.substr(space + 1, stop - space - 1);
                if (const std::size_t scheme = target.find("://"); scheme != std::string::npos)
                    target = target.substr(target.find('/', scheme + 3));
                pending.erase(0, end + 4);
                out += answer_(target);
            }
            if (!out.empty() && send(client, out.data(), out.size(), MSG_NOSIGNAL) < 0)
                break;
        }
        close(client);
    }

    Answer answer_;
    int listen_ = -1;
};
