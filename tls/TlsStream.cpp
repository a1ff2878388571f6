#include "tls/TlsStream.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"
#include "tls/CertificateAuthority.h"
#include "tls/HostName.h"
#include "tls/TlsError.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr unsigned char kAlpnHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// peer has gone; a peer that went away must cost an error, not the process.
// Bytes the client sent before the handshake began (read along with its
// CONNECT) are handed out first.
struct SocketBio {
    int fd;
    std::string early;
    std::size_t used = 0;
};

SocketBio& socketOf(BIO* bio) {
    return *static_cast<SocketBio*>(BIO_get_data(bio));
}

int bioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const int fd = socketOf(bio).fd;
    const ssize_t n =
        retryInterrupted([&] { return ::send(fd, data, std::size_t(size), MSG_NOSIGNAL); });
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return int(n);
}

int bioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    SocketBio& socket = socketOf(bio);
    if (socket.used < socket.early.size()) {
        const std::size_t n = std::min(std::size_t(size), socket.early.size() - socket.used);
        std::memcpy(data, socket.early.data() + socket.used, n);
        socket.used += n;
        if (socket.used == socket.early.size())
            std::string().swap(socket.early);
        return int(n);
    }
    const ssize_t n =
        retryInterrupted([&] { return ::recv(socket.fd, data, std::size_t(size), 0); });
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return int(n);
}

int bioPuts(BIO* bio, const char* text) {
    return bioWrite(bio, text, int(std::strlen(text)));
}

long bioControl(BIO* bio, int command, long, void* pointer) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_PENDING: {
        const SocketBio& socket = socketOf(bio);
        return long(socket.early.size() - socket.used);
    }
    case BIO_C_GET_FD:
        if (pointer)
            *static_cast<int*>(pointer) = socketOf(bio).fd;
        return socketOf(bio).fd;
    default:
        return 0;
    }
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int bioDestroy(BIO* bio) {
    delete static_cast<SocketBio*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

const BIO_METHOD* socketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(
            BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tidewell socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_puts(m, bioPuts);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        BIO_meth_set_destroy(m, bioDestroy);
        return m;
    }();
    return method;
}

// A new SSL on `socket` (not owned), or null.
SslPtr newSsl(SSL_CTX* context, int socket, std::string_view early = {}) {
    SslPtr ssl(SSL_new(context));
    BIO* bio = BIO_new(socketMethod());
    if (!ssl || !bio) {
        BIO_free(bio);
        return nullptr;
    }
    BIO_set_data(bio, new SocketBio{socket, std::string(early)});
    SSL_set_bio(ssl.get(), bio, bio);
    return ssl;
}

// Why a call on `ssl` returned `result`, as lastError() and text.
void recordFailure(SSL* ssl, int result, std::uint32_t protocolError, std::string* detail) {
    const int savedErrno = errno;
    const int kind = SSL_get_error(ssl, result);
    std::string text = takeOpenSslError();
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
        setLastError(ETIMEDOUT);
    } else if (kind == SSL_ERROR_SYSCALL && savedErrno != 0) {
        setLastError(std::uint32_t(savedErrno));
        if (text.empty())
            text = std::strerror(savedErrno);
    } else if (kind == SSL_ERROR_SYSCALL || kind == SSL_ERROR_ZERO_RETURN) {
        setLastError(kErrorDataIncomplete);
        if (text.empty())
            text = "connection closed during the handshake";
    } else {
        setLastError(protocolError);
    }
    if (detail)
        *detail = text;
}

std::uint32_t verifyErrorCode(long result) {
    switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return kErrorOriginUntrusted;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return kErrorOriginExpired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return kErrorOriginNameMismatch;
    default:
        return kErrorOriginCertificate;
    }
}

// What the client-hello callback needs while one handshake runs.
struct AcceptState {
    HostCertificateCache* certificates;
    const std::string* fallbackHost;
    std::string serverName;
    std::shared_ptr<const HostCertificate> certificate;
    std::uint32_t failure = 0;
    std::string failureDetail;
};

int onClientHello(SSL* ssl, int* alert, void*) {
    auto* state = static_cast<AcceptState*>(SSL_get_app_data(ssl));
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    std::string name;
    if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_server_name, &data, &length) == 1 &&
        parseServerNameExtension(data, length, name))
        state->serverName = name;
    std::string normal;
    const std::string& wanted =
        classifyHost(state->serverName, normal) == HostKind::Dns ? normal : *state->fallbackHost;
    state->certificate = state->certificates->get(wanted);
    // The host's certificate alone: a client that trusts our root has it.
    if (!state->certificate ||
        SSL_use_cert_and_key(ssl, state->certificate->certificate.get(),
                             state->certificate->key.get(), nullptr, 1) != 1) {
        state->failure = state->certificate ? kErrorClientHandshake : lastError();
        state->failureDetail = "no certificate for " + wanted;
        *alert = SSL_AD_INTERNAL_ERROR;
        return SSL_CLIENT_HELLO_ERROR;
    }
    return SSL_CLIENT_HELLO_SUCCESS;
}

// A client that names its protocols and not HTTP/1.1 (one that speaks only
// HTTP/2) is told at once that nothing it offers is spoken here, instead of
// a handshake after which it would speak what nobody understands.
int onAlpn(SSL* ssl, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
           unsigned inLength, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, kAlpnHttp11, sizeof kAlpnHttp11, in, inLength) !=
        OPENSSL_NPN_NEGOTIATED) {
        if (auto* state = static_cast<AcceptState*>(SSL_get_app_data(ssl))) {
            state->failure = kErrorClientNoHttp11;
            state->failureDetail = "ALPN offers";
            for (unsigned at = 0; at < inLength && at + 1 + in[at] <= inLength; at += 1 + in[at])
                state->failureDetail +=
                    " " + std::string(reinterpret_cast<const char*>(in + at + 1), in[at]);
        }
        return SSL_TLSEXT_ERR_ALERT_FATAL; // no_application_protocol
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

bool refusedOurCertificate(unsigned long code) {
    if (ERR_GET_LIB(code) != ERR_LIB_SSL)
        return false;
    const int reason = ERR_GET_REASON(code);
    return reason == SSL_R_TLSV1_ALERT_UNKNOWN_CA || reason == SSL_R_SSLV3_ALERT_BAD_CERTIFICATE ||
           reason == SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN;
}

} // namespace

TlsStream::~TlsStream() {
    // OpenSSL forgets the session of a connection dropped without a
    // close_notify sent; the session tickets an origin gave are as good
    // however the connection ended.
    SSL_set_shutdown(ssl_.get(), SSL_get_shutdown(ssl_.get()) | SSL_SENT_SHUTDOWN);
}

TlsStream::TlsStream(SslPtr ssl, int socket) : ssl_(std::move(ssl)), socket_(socket) {
    // write() loops over partial writes; writeSome() hands them back.
    SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

std::int32_t TlsStream::readSome(void* buffer, std::int32_t count) {
    if (count <= 0)
        return 0;
    std::size_t got = 0;
    errno = 0;
    const int result = SSL_read_ex(ssl_.get(), buffer, std::size_t(count), &got);
    if (result == 1)
        return std::int32_t(got);
    const int kind = SSL_get_error(ssl_.get(), result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        return kWouldBlock;
    }
    if (kind == SSL_ERROR_ZERO_RETURN) {
        ERR_clear_error();
        return 0;
    }
    recordFailure(ssl_.get(), result, EPROTO, nullptr);
    return lastError() == kErrorDataIncomplete ? 0 : -1;
}

std::int32_t TlsStream::writeSome(const void* data, std::int32_t count) {
    if (count <= 0)
        return 0;
    std::size_t written = 0;
    errno = 0;
    const int result = SSL_write_ex(ssl_.get(), data, std::size_t(count), &written);
    if (result == 1)
        return std::int32_t(written);
    const int kind = SSL_get_error(ssl_.get(), result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        return kWouldBlock;
    }
    recordFailure(ssl_.get(), result, EPROTO, nullptr);
    if (lastError() == kErrorDataIncomplete)
        setLastError(EPIPE);
    return -1;
}

std::int32_t TlsStream::read(void* buffer, std::int32_t count) {
    const std::int32_t n = readSome(buffer, count);
    // Only a non-blocking socket would block; this call is for blocking ones.
    if (n == kWouldBlock) {
        setLastError(EAGAIN);
        return -1;
    }
    return n;
}

bool TlsStream::write(const void* data, std::int32_t count) {
    auto p = static_cast<const char*>(data);
    while (count > 0) {
        const std::int32_t n = writeSome(p, count);
        if (n == kWouldBlock)
            setLastError(EAGAIN);
        if (n <= 0)
            return false;
        p += n;
        count -= n;
    }
    return true;
}

bool TlsStream::hasBufferedInput() const {
    return SSL_pending(ssl_.get()) > 0;
}

void TlsStream::closeNotify() {
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
}

std::string TlsStream::protocol() const {
    const unsigned char* name = nullptr;
    unsigned length = 0;
    SSL_get0_alpn_selected(ssl_.get(), &name, &length);
    return name ? std::string(reinterpret_cast<const char*>(name), length) : std::string();
}

TlsServerContext::TlsServerContext(HostCertificateCache& certificates)
    : context_(SSL_CTX_new(TLS_server_method())), certificates_(certificates) {
    if (!context_)
        return;
    SSL_CTX* c = context_.get();
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION |
                               SSL_OP_CIPHER_SERVER_PREFERENCE);
    // One ticket a connection: a client resumes with it, and each ticket
    // costs a session copy and an encryption.
    SSL_CTX_set_num_tickets(c, 1);
    SSL_CTX_set_client_hello_cb(c, onClientHello, nullptr);
    SSL_CTX_set_alpn_select_cb(c, onAlpn, nullptr);
}

std::unique_ptr<TlsStream> TlsServerContext::accept(int socket, const std::string& fallbackHost,
                                                    std::string* serverName, std::string* detail,
                                                    std::string_view early) {
    ERR_clear_error();
    SslPtr ssl = newSsl(context_.get(), socket, early);
    if (!ssl) {
        setLastError(ENOMEM);
        return nullptr;
    }
    AcceptState state{&certificates_, &fallbackHost, {}, nullptr, 0, {}};
    SSL_set_app_data(ssl.get(), &state);
    errno = 0;
    const int result = SSL_accept(ssl.get());
    SSL_set_app_data(ssl.get(), nullptr);
    if (serverName)
        *serverName = state.serverName;
    if (result == 1)
        return std::make_unique<TlsStream>(std::move(ssl), socket);
    if (state.failure != 0) {
        ERR_clear_error();
        setLastError(state.failure);
        if (detail)
            *detail = state.failureDetail;
        return nullptr;
    }
    const bool refused = refusedOurCertificate(ERR_peek_last_error());
    recordFailure(ssl.get(), result, kErrorClientHandshake, detail);
    if (refused)
        setLastError(kErrorClientDistrustsRoot);
    return nullptr;
}

namespace {

// "name@address:port": a session is only offered again to the same peer for
// the same verified name.
std::string sessionKey(SSL* ssl) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    std::string name;
    if (const char* host = X509_VERIFY_PARAM_get0_host(param, 0)) {
        name = host;
    } else if (char* ip = X509_VERIFY_PARAM_get1_ip_asc(param)) {
        name = ip;
        OPENSSL_free(ip);
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    char address[INET6_ADDRSTRLEN + 8] = {};
    if (::getpeername(SSL_get_fd(ssl), reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        char text[INET6_ADDRSTRLEN] = {};
        if (peer.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
            inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            std::snprintf(address, sizeof address, "%s:%u", text, unsigned(ntohs(v4->sin_port)));
        } else if (peer.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            std::snprintf(address, sizeof address, "[%s]:%u", text, unsigned(ntohs(v6->sin6_port)));
        }
    }
    return name + "@" + address;
}

} // namespace

class TlsClientContext::SessionStore {
public:
    ~SessionStore() {
        for (auto& [key, session] : sessions_)
            SSL_SESSION_free(session);
    }

    void keep(const std::string& key, SSL_SESSION* session) {
        std::lock_guard guard(mutex_);
        auto [at, added] = sessions_.emplace(key, session);
        if (!added) {
            SSL_SESSION_free(at->second);
            at->second = session;
        } else if (sessions_.size() > kSessionLimit) {
            // Bounded: past the limit another one goes.
            auto victim = std::next(at) != sessions_.end() ? std::next(at) : sessions_.begin();
            SSL_SESSION_free(victim->second);
            sessions_.erase(victim);
        }
    }
    // A reference the caller frees, or null.
    SSL_SESSION* take(const std::string& key) {
        std::lock_guard guard(mutex_);
        auto at = sessions_.find(key);
        if (at == sessions_.end())
            return nullptr;
        SSL_SESSION_up_ref(at->second);
        return at->second;
    }
    void forget(const std::string& key) {
        std::lock_guard guard(mutex_);
        if (auto at = sessions_.find(key); at != sessions_.end()) {
            SSL_SESSION_free(at->second);
            sessions_.erase(at);
        }
    }
    std::size_t size() const {
        std::lock_guard guard(mutex_);
        return sessions_.size();
    }

    static int index() {
        static const int value =
            SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr,
                                     [](void*, void* store, CRYPTO_EX_DATA*, int, long, void*) {
                                         delete static_cast<SessionStore*>(store);
                                     });
        return value;
    }
    static int onNewSession(SSL* ssl, SSL_SESSION* session) {
        auto* store =
            static_cast<SessionStore*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), index()));
        if (!store || !SSL_SESSION_is_resumable(session))
            return 0;
        store->keep(sessionKey(ssl), session);
        return 1; // the reference is the store's now
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, SSL_SESSION*> sessions_;
};

TlsClientContext::SessionStore* TlsClientContext::store() const {
    return context_ ? static_cast<SessionStore*>(
                          SSL_CTX_get_ex_data(context_.get(), SessionStore::index()))
                    : nullptr;
}

std::size_t TlsClientContext::sessions() const {
    SessionStore* sessions = store();
    return sessions ? sessions->size() : 0;
}

TlsClientContext::TlsClientContext() : context_(SSL_CTX_new(TLS_client_method())) {
    if (!context_)
        return;
    SSL_CTX* c = context_.get();
    SSL_CTX_set_ex_data(c, SessionStore::index(), new SessionStore);
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(c, SessionStore::onNewSession);
    SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(c) != 1 ||
        SSL_CTX_set_alpn_protos(c, kAlpnHttp11, sizeof kAlpnHttp11) != 0)
        context_.reset();
    ERR_clear_error();
}

std::unique_ptr<TlsStream> TlsClientContext::connect(int socket, const std::string& host,
                                                     std::string* detail, std::string_view early) {
    ERR_clear_error();
    std::string name;
    const HostKind kind = classifyHost(host, name);
    if (kind == HostKind::Invalid) {
        setLastError(kErrorOriginNameMismatch);
        if (detail)
            *detail = "not a host name: " + host;
        return nullptr;
    }
    SslPtr ssl = newSsl(context_.get(), socket, early);
    if (!ssl) {
        setLastError(ENOMEM);
        return nullptr;
    }
    bool named;
    if (kind == HostKind::Dns)
        named = SSL_set_tlsext_host_name(ssl.get(), name.c_str()) == 1 &&
                SSL_set1_host(ssl.get(), name.c_str()) == 1;
    else
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), name.c_str()) == 1;
    if (!named) {
        setLastError(kErrorOriginHandshake);
        if (detail)
            *detail = takeOpenSslError();
        return nullptr;
    }
    const std::string key = sessionKey(ssl.get());
    SessionStore* sessions = store();
    if (SSL_SESSION* session = sessions ? sessions->take(key) : nullptr) {
        SSL_set_session(ssl.get(), session);
        SSL_SESSION_free(session);
    }
    errno = 0;
    const int result = SSL_connect(ssl.get());
    if (result == 1)
        return std::make_unique<TlsStream>(std::move(ssl), socket);
    if (sessions)
        sessions->forget(key);
    const long verified = SSL_get_verify_result(ssl.get());
    if (verified != X509_V_OK) {
        ERR_clear_error();
        setLastError(verifyErrorCode(verified));
        if (detail)
            *detail = X509_verify_cert_error_string(verified);
        return nullptr;
    }
    recordFailure(ssl.get(), result, kErrorOriginHandshake, detail);
    return nullptr;
}
