#include "support/TlsFront.h"

#include "support/OriginServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TlsFront::TlsFront(int backendPort, const CertificateAuthority& authority,
                   std::string fallbackName)
    : backendPort_(backendPort), fallbackName_(std::move(fallbackName)),
      certificates_(authority), context_(certificates_) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listen_, 128) != 0)
        return;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TlsFront::~TlsFront() {
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

void TlsFront::acceptLoop() {
    while (!stopping_) {
        const int socket = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            if (stopping_ || (errno != EINTR && errno != ECONNABORTED))
                return;
            continue;
        }
        std::lock_guard lock(mutex_);
        sockets_.push_back(socket);
        workers_.emplace_back([this, socket] { serve(socket); });
    }
}

void TlsFront::serve(int socket) {
    std::unique_ptr<TlsStream> tls = context_.accept(socket, fallbackName_);
    const int backend = tls ? connectLoopback(backendPort_) : -1;
    if (backend >= 0) {
        {
            std::lock_guard lock(mutex_);
            sockets_.push_back(backend);
        }
        ++handshakes_;
        char buffer[16384];
        for (;;) {
            pollfd waits[2] = {{socket, POLLIN, 0}, {backend, POLLIN, 0}};
            if (!tls->hasBufferedInput() && ::poll(waits, 2, -1) <= 0)
                break;
            if (tls->hasBufferedInput() || waits[0].revents) {
                const std::int32_t n = tls->read(buffer, sizeof buffer);
                if (n <= 0 || !sendAllBytes(backend, std::string_view(buffer, std::size_t(n))))
                    break;
            } else if (waits[1].revents) {
                const ssize_t n = ::recv(backend, buffer, sizeof buffer, 0);
                if (n <= 0 || !tls->write(buffer, std::int32_t(n)))
                    break;
            }
        }
        tls->closeNotify();
        ::shutdown(backend, SHUT_RDWR);
    }
    ::shutdown(socket, SHUT_RDWR);
}
