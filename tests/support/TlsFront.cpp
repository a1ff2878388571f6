#include "support/TlsFront.h"

#include "support/OriginServer.h"
#include "support/SocketPair.h"

#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

TlsFront::TlsFront(int backendPort, const CertificateAuthority& authority, std::string fallbackName)
    : backendPort_(backendPort), fallbackName_(std::move(fallbackName)), certificates_(authority),
      context_(certificates_),
      server_(std::make_unique<LoopbackServer>([this](int socket, int) { serve(socket); })) {}

void TlsFront::serve(int socket) {
    std::unique_ptr<TlsStream> tls = context_.accept(socket, fallbackName_);
    const int backend = tls ? connectLoopback(backendPort_) : -1;
    if (backend < 0)
        return;
    ++handshakes_;
    if (SSL_session_reused(tls->ssl()))
        ++resumed_;
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
    ::close(backend);
}

std::string clientHelloOf(const std::string& host) {
    SocketPair pair(true);
    std::thread client([&] {
        TlsClientContext context;
        context.connect(pair.first, host);
    });
    std::string hello;
    char header[5];
    std::size_t wanted = 0;
    do {
        if (::recv(pair.second, header, 5, MSG_WAITALL) != 5)
            break;
        const std::size_t length =
            std::size_t(std::uint8_t(header[3])) << 8 | std::uint8_t(header[4]);
        std::string record(length, '\0');
        if (::recv(pair.second, record.data(), length, MSG_WAITALL) != ssize_t(length))
            break;
        hello += record;
        if (hello.size() >= 4)
            wanted = 4 + (std::size_t(std::uint8_t(hello[1])) << 16 |
                          std::size_t(std::uint8_t(hello[2])) << 8 | std::uint8_t(hello[3]));
    } while (hello.size() < 4 || hello.size() < wanted);
    pair.closeSecond();
    client.join();
    return hello;
}
