// The per-user root certificate and the host certificates it signs.
#pragma once

#include "tls/OpenSsl.h"

#include <cstddef>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

// A certificate for one host and its own key.
struct HostCertificate {
    X509Ptr certificate;
    EvpPkeyPtr key;
};

// The root is made once per user (ECDSA P-256, ten years) and kept next to
// the cache folder, never in it, so clearing captures leaves it: the
// certificate readable, the key for the user alone (0600), the folder 0700.
// The key never leaves this object other than as the signer of host
// certificates.
class CertificateAuthority {
public:
    static constexpr const char* kCertificateFile = "root-ca.pem";
    static constexpr const char* kKeyFile = "root-ca.key";
    static constexpr int kRootValidityDays = 3650;
    // Host certificates reach at most this far ahead (and one day back, for
    // clocks that run late).
    static constexpr int kHostValidityDays = 47;

    // $XDG_DATA_HOME (default ~/.local/share) + "/Merovex/Tidewell/CA/";
    // false (ENOENT) when there is no home.
    static bool findFolder(std::string& folder);

    // Loads the root kept in `folder`; when there is none yet, makes it
    // first. Processes starting at once make one root between them. False
    // with lastError(): kErrorRootCertificate when the files are there but
    // unusable (they are left alone), else the failed file operation's errno.
    bool loadOrCreate(const std::string& folder);
    // Loads only; ENOENT when no root has been made.
    bool load(const std::string& folder);
    bool loaded() const { return certificate_ != nullptr; }

    X509* certificate() const { return certificate_.get(); }
    std::string certificatePem() const;
    // SHA-256 of the certificate, upper-case hex.
    std::string fingerprint() const;
    // "CN=..., OU=..., O=Tidewell" for the user.
    std::string subjectText() const;

    // A new certificate for `host` (a DNS name, an IPv4 or IPv6 literal):
    // subjectAltName, CA:FALSE, serverAuth, one day back to at most 47 days
    // ahead (never beyond the root), random serial, a fresh P-256 key. Null
    // with kErrorHostName for a name no certificate should carry.
    std::shared_ptr<const HostCertificate> issue(std::string_view host) const;

    // Makes a root in memory, for tests and the first use; `owner` goes into
    // the subject ("user@host").
    bool create(const std::string& owner);
    // The user and host this program runs for.
    static std::string currentOwner();

private:
    bool writeFiles(const std::string& folder) const;

    X509Ptr certificate_;
    EvpPkeyPtr key_;
};

// Host certificates by normal host name, the least recently used dropped
// beyond `capacity`. Shared by every connection thread.
class HostCertificateCache {
public:
    HostCertificateCache(const CertificateAuthority& authority, std::size_t capacity = 1024)
        : authority_(authority), capacity_(capacity) {}

    // The cached certificate for `host`, or a new one (null when the
    // authority refuses the name, with its lastError()). A cached one within
    // a day of its end at `now` is made anew: a capture may run for weeks.
    std::shared_ptr<const HostCertificate> get(std::string_view host,
                                               std::time_t now = std::time(nullptr));
    std::size_t size() const;
    const CertificateAuthority& authority() const { return authority_; }

private:
    using Entry = std::pair<std::string, std::shared_ptr<const HostCertificate>>;

    const CertificateAuthority& authority_;
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::list<Entry> order_; // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};
