// TLS over a connected socket as one more Stream, and the two ends that make
// one: toward a client (with a certificate for the name it asks for) and
// toward an origin (verifying it).
#pragma once

#include "engine/HttpsInterceptor.h"
#include "tls/OpenSsl.h"

#include <memory>
#include <string>
#include <string_view>

class HostCertificateCache;

// Does not own the socket (as SocketStream): its owner shuts it down, which
// makes a call blocked on another thread fail.
class TlsStream : public SecureStream {
public:
    TlsStream(SslPtr ssl, int socket);
    ~TlsStream() override;

    // Bytes decrypted, 0 when the peer closed (with or without its
    // close_notify), -1 on error.
    std::int32_t read(void* buffer, std::int32_t count) override;
    bool write(const void* data, std::int32_t count) override;

    // Decrypted bytes already waiting: a poll on the socket does not see them.
    bool hasBufferedInput() const override;
    // Tells the peer this side is done (close_notify); best effort.
    void closeNotify() override;
    std::int32_t readSome(void* buffer, std::int32_t count) override;
    std::int32_t writeSome(const void* data, std::int32_t count) override;

    int socketHandle() const { return socket_; }
    SSL* ssl() const { return ssl_.get(); }
    // The ALPN protocol agreed on, empty when none.
    std::string protocol() const;

private:
    SslPtr ssl_;
    int socket_;
};

// The side that answers a client: a certificate for the server name of its
// hello (the given fallback host when it names none), ALPN http/1.1 only.
class TlsServerContext {
public:
    explicit TlsServerContext(HostCertificateCache& certificates);
    bool valid() const { return context_ != nullptr; }

    // Completes the client's handshake on `socket`. Null with lastError():
    // kErrorClientDistrustsRoot when the client refused our certificate
    // (alert unknown_ca, bad_certificate or certificate_unknown),
    // kErrorClientNoHttp11 when its ALPN offers protocols but not HTTP/1.1
    // (it is sent the no_application_protocol alert), kErrorClientHandshake
    // for any other failure, kErrorHostName when no certificate could be
    // made for the name. `serverName` receives the name
    // the client asked for (empty when none); `detail` OpenSSL's reason.
    // `early` holds bytes of the client's that were already read from the
    // socket (sent right behind its CONNECT).
    std::unique_ptr<TlsStream> accept(int socket, const std::string& fallbackHost,
                                      std::string* serverName = nullptr,
                                      std::string* detail = nullptr, std::string_view early = {});

private:
    SslCtxPtr context_;
    HostCertificateCache& certificates_;
};

// The side that connects to an origin: its chain verified against OpenSSL's
// default paths (SSL_CERT_FILE and SSL_CERT_DIR honoured) and its name
// against `host`; ALPN http/1.1 only.
class TlsClientContext {
public:
    TlsClientContext();
    bool valid() const { return context_ != nullptr; }

    // Null with lastError(): kErrorOriginUntrusted, kErrorOriginExpired,
    // kErrorOriginNameMismatch or kErrorOriginCertificate when verification
    // failed, kErrorOriginHandshake for other failures; `detail` says why in
    // OpenSSL's words. `host` is sent as the server name when it is a DNS
    // name.
    // `early` holds bytes of the origin's already read from the socket.
    std::unique_ptr<TlsStream> connect(int socket, const std::string& host,
                                       std::string* detail = nullptr, std::string_view early = {});

    // Sessions kept for resumption, by verified name and peer address.
    std::size_t sessions() const;
    static constexpr std::size_t kSessionLimit = 512;

private:
    // A new connection to an origin seen before resumes its session: no
    // certificate to parse and check again. The store belongs to the OpenSSL
    // context, which lives as long as the last connection made with it.
    class SessionStore;
    SessionStore* store() const;

    SslCtxPtr context_;
};
