#include "support/TlsOrigin.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <sys/socket.h>

namespace {

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool ok = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

// Signed by `issuerKey` under `issuer`'s name; self-signed when issuer is null.
X509* makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                      bool authority, long serial,
                      const char* names = "IP:127.0.0.1,DNS:localhost") {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 30L * 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : certificate;
    addExtension(certificate, signer, NID_subject_key_identifier, "hash");
    addExtension(certificate, signer, NID_authority_key_identifier, "keyid");
    if (authority) {
        addExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(certificate, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(certificate, signer, NID_key_usage, "critical,digitalSignature");
        addExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
        addExtension(certificate, signer, NID_subject_alt_name, names);
    }
    X509_sign(certificate, issuerKey ? issuerKey : key, EVP_sha256());
    return certificate;
}

bool sendAll(SSL* ssl, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = SSL_write(ssl, bytes.data() + sent, int(bytes.size() - sent));
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

} // namespace

TlsOrigin::TlsOrigin(std::string page)
    : TlsOrigin(std::move(page), "text/html; charset=utf-8", "IP:127.0.0.1,DNS:localhost", {}) {}

TlsOrigin::TlsOrigin(std::string page, std::string contentType, const char* names,
                     const std::string& appendedPem)
    : page_(std::move(page)), contentType_(std::move(contentType)) {
    EVP_PKEY* caKey = EVP_EC_gen("P-256");
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* ca = makeCertificate(caKey, "Tidewell Test Authority", nullptr, nullptr, true, 1);
    X509* leaf = makeCertificate(key, "127.0.0.1", ca, caKey, false, 2, names);
    caFile_ = folder_.path() + "/ca.pem";
    if (std::FILE* out = std::fopen(caFile_.c_str(), "w")) {
        PEM_write_X509(out, ca);
        std::fclose(out);
    }
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context_, leaf);
    SSL_CTX_use_PrivateKey(context_, key);
    BIO* appended = BIO_new_mem_buf(appendedPem.data(), int(appendedPem.size()));
    while (X509* extra = PEM_read_bio_X509(appended, nullptr, nullptr, nullptr))
        SSL_CTX_add0_chain_cert(context_, extra);
    BIO_free(appended);
    ERR_clear_error();
    X509_free(leaf);
    X509_free(ca);
    EVP_PKEY_free(key);
    EVP_PKEY_free(caKey);

    server_ = std::make_unique<LoopbackServer>([this](int socket, int) { serve(socket); });
}

TlsOrigin::~TlsOrigin() {
    server_.reset();
    SSL_CTX_free(context_);
}

void TlsOrigin::serve(int socket) {
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) == 1) {
        std::string buffer;
        char bytes[16384];
        for (;;) {
            std::size_t end;
            while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
                const int n = SSL_read(ssl, bytes, sizeof bytes);
                if (n <= 0)
                    break;
                buffer.append(bytes, std::size_t(n));
            }
            if (end == std::string::npos)
                break;
            const std::string line = buffer.substr(0, buffer.find("\r\n"));
            buffer.erase(0, end + 4);
            const std::string request = line.substr(0, line.rfind(' '));
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                arrived_.notify_all();
            }
            const bool root = request.size() >= 2 && request.substr(request.size() - 2) == " /";
            const std::string body = root ? page_ : std::string();
            const std::string answer =
                std::string(root ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                "Content-Type: " + contentType_ +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            if (!sendAll(ssl, answer))
                break;
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ::shutdown(socket, SHUT_RDWR);
}

std::vector<std::string> TlsOrigin::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TlsOrigin::waitForRequests(std::size_t count) const {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return requests_.size() >= count; });
}
