// An HTTPS origin on 127.0.0.1 for tunnel tests, with a certificate
// authority made for it alone: clients trust `caFile()` and nothing else.
#pragma once

#include "support/LoopbackServer.h"
#include "support/ScopedDataHome.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

class TlsOrigin {
public:
    // Answers "/" with `page` (text/html) and every other path with 404.
    explicit TlsOrigin(std::string page);
    // A forger: answers "/" with `page` of `contentType`, showing a
    // certificate for `names` (subjectAltName text) with `appendedPem`
    // (certificates it has no key for) sent behind it.
    TlsOrigin(std::string page, std::string contentType, const char* names,
              const std::string& appendedPem);
    ~TlsOrigin();
    TlsOrigin(const TlsOrigin&) = delete;
    TlsOrigin& operator=(const TlsOrigin&) = delete;

    int port() const { return server_->port(); }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port()) + path;
    }
    // The authority's certificate, PEM; the origin's names 127.0.0.1 and
    // localhost.
    const std::string& caFile() const { return caFile_; }
    // "GET /" for every request, in order of arrival.
    std::vector<std::string> requests() const;
    void waitForRequests(std::size_t count) const;

private:
    void serve(int socket);

    std::string page_;
    std::string contentType_ = "text/html; charset=utf-8";
    TempFolder folder_;
    std::string caFile_;
    SSL_CTX* context_ = nullptr;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> requests_;
    // Made once the context is ready; stopped first.
    std::unique_ptr<LoopbackServer> server_;
};
