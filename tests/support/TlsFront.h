// A TLS front for a loopback test origin: accepts TLS on 127.0.0.1 with
// certificates of its own test CA and passes the plain bytes on to an
// OriginServer (or any plain server) behind it.
#pragma once

#include "support/LoopbackServer.h"
#include "tls/CertificateAuthority.h"
#include "tls/TlsStream.h"

#include <atomic>
#include <memory>
#include <string>

class TlsFront {
public:
    // Certificates for the name each client asks for, or for `fallbackName`
    // when it names none; signed by `authority` (which outlives the front).
    TlsFront(int backendPort, const CertificateAuthority& authority,
             std::string fallbackName = "127.0.0.1");
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    int port() const { return server_->port(); }
    // Handshakes completed so far, and how many of them resumed a session.
    int handshakes() const { return handshakes_; }
    int resumed() const { return resumed_; }

private:
    void serve(int socket);

    int backendPort_;
    std::string fallbackName_;
    HostCertificateCache certificates_;
    TlsServerContext context_;
    std::atomic<int> handshakes_{0};
    std::atomic<int> resumed_{0};
    // Made once the context is ready; stopped first.
    std::unique_ptr<LoopbackServer> server_;
};

// The first handshake message (a ClientHello, without its record framing)
// that a real OpenSSL client sends to reach `host`.
std::string clientHelloOf(const std::string& host);
