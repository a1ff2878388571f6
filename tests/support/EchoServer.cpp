#include "support/EchoServer.h"

#include "support/OriginServer.h"

#include <sys/socket.h>

EchoServer::EchoServer(std::string greeting, bool closeAfterGreeting)
    : greeting_(std::move(greeting)), closeAfterGreeting_(closeAfterGreeting),
      server_([this](int socket, int) { serve(socket); }) {}

void EchoServer::serve(int socket) {
    if (sendAllBytes(socket, greeting_) && !closeAfterGreeting_) {
        char bytes[65536];
        ssize_t n;
        while ((n = ::recv(socket, bytes, sizeof bytes, 0)) > 0) {
            received_ += std::size_t(n);
            if (!sendAllBytes(socket, std::string_view(bytes, std::size_t(n))))
                break;
        }
    }
    ::shutdown(socket, SHUT_WR);
}
