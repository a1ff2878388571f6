#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackServer::LoopbackServer(Serve serve, const char* address) : serve_(std::move(serve)) {
    const bool v6 = std::string(address).find(':') != std::string::npos;
    listen_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, address, &a->sin6_addr);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &a->sin_addr);
        length = sizeof *a;
    }
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(listen_, 128) != 0)
        return;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&storage), &length);
    port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    acceptor_ = std::thread([this] {
        while (!stopping_) {
            const int socket = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (socket < 0) {
                if (stopping_ || (errno != EINTR && errno != ECONNABORTED))
                    return;
                continue;
            }
            const int number = ++connections_;
            std::lock_guard lock(mutex_);
            sockets_.push_back(socket);
            workers_.emplace_back([this, socket, number] { serve_(socket, number); });
        }
    });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int socket : sockets_)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (auto& worker : workers_)
        worker.join();
    for (int socket : sockets_)
        ::close(socket);
    ::close(listen_);
}
