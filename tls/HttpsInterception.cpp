#include "tls/HttpsInterception.h"

#include "engine/Platform.h"
#include "tls/TlsError.h"

std::string HttpsInterception::folder() {
    std::lock_guard guard(prepareMutex_);
    return folder_;
}

bool HttpsInterception::prepare(const std::string& folder) {
    std::lock_guard guard(prepareMutex_);
    if (prepared())
        return true;
    std::string where = folder;
    if (where.empty() && !CertificateAuthority::findFolder(where))
        return false;
    if (where.back() != '/')
        where += '/';
    folder_ = where;
    if (!root_.loadOrCreate(where))
        return false;
    auto certificates = std::make_unique<HostCertificateCache>(root_);
    auto server = std::make_unique<TlsServerContext>(*certificates);
    auto client = std::make_unique<TlsClientContext>();
    if (!server->valid() || !client->valid()) {
        setLastError(kErrorRootCertificate);
        return false;
    }
    certificateFile_ = where + CertificateAuthority::kCertificateFile;
    certificates_ = std::move(certificates);
    server_ = std::move(server);
    client_ = std::move(client);
    prepared_.store(true, std::memory_order_release);
    return true;
}

void HttpsInterception::setPassThrough(const std::string& text) {
    PassThroughList list(text);
    std::lock_guard guard(listMutex_);
    passThrough_ = std::move(list);
}

PassThroughList HttpsInterception::passThrough() const {
    std::lock_guard guard(listMutex_);
    return passThrough_;
}

bool HttpsInterception::shouldDecrypt(const std::string& host, int) {
    if (!decrypt_ || !prepared())
        return false;
    std::lock_guard guard(listMutex_);
    return !passThrough_.matches(host);
}

bool HttpsInterception::passesThrough(std::string_view clientHello) {
    std::string name;
    if (!parseClientHelloServerName(clientHello, name))
        return true;
    std::lock_guard guard(listMutex_);
    return !name.empty() && passThrough_.matches(name);
}

std::unique_ptr<SecureStream>
HttpsInterception::acceptClient(int socket, const std::string& connectHost, std::string_view early,
                                std::string& serverName, std::string& detail) {
    if (!prepared()) {
        setLastError(kErrorRootCertificate);
        return nullptr;
    }
    return server_->accept(socket, connectHost, &serverName, &detail, early);
}

std::unique_ptr<SecureStream> HttpsInterception::connectOrigin(int socket, const std::string& host,
                                                               std::string_view early,
                                                               std::string& detail) {
    if (!prepared()) {
        setLastError(kErrorRootCertificate);
        return nullptr;
    }
    return client_->connect(socket, host, &detail, early);
}
