// Connected socket pairs for stream and relay tests: a local (AF_UNIX) pair,
// and a TCP pair over 127.0.0.1.
#pragma once

#include <string>

struct SocketPair {
    // Creates an AF_UNIX stream pair; with `tcp`, a loopback TCP connection.
    explicit SocketPair(bool tcp = false);
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    // Closes one end (idempotent), so the other sees end of stream or EPIPE.
    void closeFirst();
    void closeSecond();
    // Shrinks both ends' kernel buffers so large writes take several sends.
    void shrinkBuffers(int bytes);

    int first = -1;
    int second = -1;
};

// Reads from `fd` until the peer closes (or `limit` bytes arrived).
std::string readAll(int fd, std::size_t limit = std::string::npos);
// Writes everything to `fd` (blocking); false on error.
bool writeAll(int fd, const std::string& data);
