// A stub of the vendor's web service on loopback, for the update check and
// the uninstall notification.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <future>
#include <string>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Accepts one client, reads its request head, then sends `reply` and closes
// (or, when stalling, keeps the connection open until destroyed).
class StubService {
public:
    StubService(std::string reply, bool stall = false) : reply_(std::move(reply)), stall_(stall) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("stub service cannot listen");
        port_ = ntohs(address.sin_port);
        ::pipe(stop_);
        thread_ = std::thread([this] { serve(); });
    }
    ~StubService() {
        ::write(stop_[1], "x", 1);
        thread_.join();
        ::close(listener_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    QByteArray server() const { return "127.0.0.1:" + QByteArray::number(port_); }
    // The request head, once it has arrived.
    std::string request() { return request_.get_future().get(); }
    std::future<std::string> requestFuture() { return request_.get_future(); }

private:
    bool waitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        return ::poll(fds, 2, -1) > 0 && !fds[1].revents;
    }
    void serve() {
        if (!waitReadable(listener_))
            return request_.set_value({});
        const int client = ::accept(listener_, nullptr, nullptr);
        std::string head;
        char buffer[512];
        while (head.find("\r\n\r\n") == std::string::npos && waitReadable(client)) {
            const ssize_t count = ::recv(client, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(count));
        }
        request_.set_value(head);
        if (stall_)
            waitReadable(stop_[0]);
        else
            ::send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        ::close(client);
    }

    std::string reply_;
    bool stall_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    unsigned short port_ = 0;
    std::promise<std::string> request_;
    std::thread thread_;
};
