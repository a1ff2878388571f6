// A TLS front for a loopback test origin: accepts TLS on 127.0.0.1 with
// certificates of its own test CA and passes the plain bytes on to an
// OriginServer (or any plain server) behind it.
#pragma once

#include "tls/CertificateAuthority.h"
#include "tls/TlsStream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TlsFront {
public:
    // Certificates for the name each client asks for, or for `fallbackName`
    // when it names none; signed by `authority` (which outlives the front).
    TlsFront(int backendPort, const CertificateAuthority& authority,
             std::string fallbackName = "127.0.0.1");
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    int port() const { return port_; }
    // Handshakes completed so far.
    int handshakes() const { return handshakes_; }

private:
    void acceptLoop();
    void serve(int socket);

    int backendPort_;
    std::string fallbackName_;
    HostCertificateCache certificates_;
    TlsServerContext context_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> handshakes_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> sockets_;
    std::vector<std::thread> workers_;
};
