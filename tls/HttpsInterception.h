// HTTPS decryption as the relay sees it: the user's root, the host
// certificates, both TLS ends, the on/off switch and the pass-through hosts.
#pragma once

#include "engine/HttpsInterceptor.h"
#include "tls/CertificateAuthority.h"
#include "tls/HostName.h"
#include "tls/TlsStream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

// The switch and the list may change while connections run; the root and
// the contexts are made once (prepare) and then only read.
class HttpsInterception : public HttpsInterceptor {
public:
    HttpsInterception() = default;

    // Loads the user's root from `folder` (default: the one next to the
    // cache folder), making it on first use, and readies both TLS ends.
    // Once it succeeded later calls return true at once. False with
    // lastError().
    bool prepare(const std::string& folder = {});
    bool prepared() const { return prepared_.load(std::memory_order_acquire); }
    // The folder prepare() last looked in, for naming it when it failed;
    // empty when no folder could be found at all.
    std::string folder();
    // Valid once prepared.
    const CertificateAuthority& root() const { return root_; }
    // The root's PEM file.
    const std::string& certificateFile() const { return certificateFile_; }
    HostCertificateCache& certificates() { return *certificates_; }

    // Decryption also needs prepare() to have succeeded.
    void setDecrypt(bool on) { decrypt_ = on; }
    bool decrypt() const { return decrypt_; }
    void setPassThrough(const std::string& text);
    PassThroughList passThrough() const;

    bool shouldDecrypt(const std::string& host, int port) override;
    bool passesThrough(std::string_view clientHello) override;
    std::unique_ptr<SecureStream> acceptClient(int socket, const std::string& connectHost,
                                               std::string_view early, std::string& serverName,
                                               std::string& detail) override;
    std::unique_ptr<SecureStream> connectOrigin(int socket, const std::string& host,
                                                std::string_view early,
                                                std::string& detail) override;

private:
    std::mutex prepareMutex_;
    std::atomic<bool> prepared_{false};
    std::atomic<bool> decrypt_{false};
    CertificateAuthority root_;
    std::string certificateFile_;
    std::string folder_; // guarded by prepareMutex_
    std::unique_ptr<HostCertificateCache> certificates_;
    std::unique_ptr<TlsServerContext> server_;
    std::unique_ptr<TlsClientContext> client_;
    mutable std::mutex listMutex_;
    PassThroughList passThrough_;
};
