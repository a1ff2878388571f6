// The end of a client connection that may still be sending to us.
#pragma once

#include <chrono>
#include <cstdint>

// How long, and for how many bytes, a closing connection keeps reading.
struct LingerLimits {
    std::chrono::milliseconds total{5000};
    // A peer silent for this long is taken to have finished.
    std::chrono::milliseconds quiet{2000};
    std::int64_t bytes = std::int64_t(64) << 20;
};

// Stops sending on `socket`, so that the peer reads an end after everything
// sent so far, then reads and drops what the peer still sends until it closes
// or a limit is reached. The caller closes the socket afterwards. Closed at
// once, a socket with unread bytes (an upload the answer refused, a request
// after a "Connection: close") makes the kernel reset the connection, and
// the peer may lose the answer it has not read yet.
void lingerBeforeClose(int socket, const LingerLimits& limits = {});
