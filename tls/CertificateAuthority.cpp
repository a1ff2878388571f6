#include "tls/CertificateAuthority.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"
#include "tls/HostName.h"
#include "tls/TlsError.h"
#include "tls/UserFiles.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;

bool fail(std::uint32_t code) {
    ERR_clear_error();
    setLastError(code);
    return false;
}

// A random positive serial of 127 bits.
bool setRandomSerial(X509* certificate) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7F;
    bytes[0] |= 0x40; // never shorter than 16 bytes, never zero
    BignumPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    Asn1IntegerPtr serial(number ? BN_to_ASN1_INTEGER(number.get(), nullptr) : nullptr);
    return serial && X509_set_serialNumber(certificate, serial.get()) == 1;
}

bool addExtension(X509* certificate, X509V3_CTX& context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool addName(X509_NAME* name, const char* field, std::string_view value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(value.data()),
                                      int(value.size()), -1, 0) == 1;
}

// At most `limit` bytes of UTF-8 text, not cutting a character.
std::string_view clip(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// Built from its parts, never from configuration text: a name a client sent
// must not be able to add entries of its own.
bool addSubjectAltName(X509* certificate, HostKind kind, const std::string& host) {
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    GENERAL_NAME* entry = GENERAL_NAME_new();
    bool ok = names && entry;
    if (ok && kind == HostKind::Dns) {
        ASN1_IA5STRING* text = ASN1_IA5STRING_new();
        ok = text && ASN1_STRING_set(text, host.data(), int(host.size())) == 1;
        if (ok)
            GENERAL_NAME_set0_value(entry, GEN_DNS, text);
        else
            ASN1_IA5STRING_free(text);
    } else if (ok) {
        ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
        ok = address != nullptr;
        if (ok)
            GENERAL_NAME_set0_value(entry, GEN_IPADD, address);
    }
    if (ok) {
        ok = sk_GENERAL_NAME_push(names, entry) > 0;
        if (ok)
            entry = nullptr;
        ok = ok && X509_add1_ext_i2d(certificate, NID_subject_alt_name, names, 0,
                                     X509V3_ADD_DEFAULT) == 1;
    }
    GENERAL_NAME_free(entry);
    GENERAL_NAMES_free(names);
    return ok;
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, std::size_t(size)) : std::string();
}

std::string hex(const unsigned char* bytes, unsigned size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// An exclusive lock on the folder's lock file, held while it lives.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        const std::string path = folder + ".lock";
        fd_ = retryInterrupted(
            [&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
        if (fd_ >= 0 && retryInterrupted([&] { return ::flock(fd_, LOCK_EX); }) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0)
            setLastErrorFromErrno();
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace

bool CertificateAuthority::findFolder(std::string& folder) {
    std::string base;
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        base = data;
    } else {
        const std::string home = userHomeFolder();
        if (home.empty()) {
            setLastError(ENOENT);
            return false;
        }
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    folder = base + "/Merovex/Tidewell/CA/";
    return true;
}

std::string CertificateAuthority::currentOwner() {
    std::string user;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name)
        user = entry->pw_name;
    else if (const char* name = std::getenv("USER"))
        user = name;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return (user.empty() ? "user" : user) + "@" + (host[0] ? host : "localhost");
}

bool CertificateAuthority::create(const std::string& owner) {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate(X509_new());
    if (!key || !certificate)
        return fail(kErrorRootCertificate);
    X509* x = certificate.get();
    X509_NAME* name = X509_get_subject_name(x);
    const std::string commonName = "Tidewell Root CA (" + owner + ")";
    bool ok = X509_set_version(x, X509_VERSION_3) == 1 && setRandomSerial(x) &&
              addName(name, "O", "Tidewell") && addName(name, "OU", clip(owner, 64)) &&
              addName(name, "CN", clip(commonName, 64)) && X509_set_issuer_name(x, name) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), -3600) &&
              X509_time_adj_ex(X509_getm_notAfter(x), kRootValidityDays, 0, nullptr) &&
              X509_set_pubkey(x, key.get()) == 1;
    X509V3_CTX context;
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    // It signs host certificates and nothing else: a certificate of another
    // authority under it, made with a stolen key or by mistake, is refused.
    ok = ok && addExtension(x, context, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
         addExtension(x, context, NID_key_usage, "critical,keyCertSign,cRLSign") &&
         addExtension(x, context, NID_subject_key_identifier, "hash") &&
         X509_sign(x, key.get(), EVP_sha256()) > 0;
    if (!ok)
        return fail(kErrorRootCertificate);
    certificate_ = std::move(certificate);
    key_ = std::move(key);
    return true;
}

bool CertificateAuthority::load(const std::string& folder) {
    std::string certificateText;
    std::string keyText;
    if (!readWholeFile(folder + kCertificateFile, certificateText))
        return lastError() == EFBIG ? fail(kErrorRootCertificate) : false;
    const std::string keyPath = folder + kKeyFile;
    if (!readWholeFile(keyPath, keyText))
        return lastError() == ENOENT || lastError() == EFBIG ? fail(kErrorRootCertificate) : false;
    // A key others can read is made private again before it is used.
    struct stat st {};
    if (::stat(keyPath.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        ::chmod(keyPath.c_str(), 0600);

    BioPtr certificateBio(BIO_new_mem_buf(certificateText.data(), int(certificateText.size())));
    BioPtr keyBio(BIO_new_mem_buf(keyText.data(), int(keyText.size())));
    X509Ptr certificate(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    // No password callback: ours has none, and nothing may prompt.
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(
        keyBio.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr));
    if (!certificate || !key || X509_check_private_key(certificate.get(), key.get()) != 1)
        return fail(kErrorRootCertificate);
    certificate_ = std::move(certificate);
    key_ = std::move(key);
    return true;
}

bool CertificateAuthority::loadOrCreate(const std::string& folder) {
    if (!createUserFolders(folder.substr(0, folder.size() - 1)))
        return false;
    ::chmod(folder.c_str(), 0700);
    FolderLock lock(folder);
    if (!lock.held())
        return false;
    if (load(folder))
        return true;
    // Only a missing certificate means "not made yet"; a certificate that is
    // there may be trusted somewhere and is never replaced behind the user.
    if (lastError() != ENOENT)
        return false;
    return create(currentOwner()) && writeFiles(folder);
}

bool CertificateAuthority::writeFiles(const std::string& folder) const {
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    BioPtr certificateBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certificateBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_X509(certificateBio.get(), certificate_.get()) != 1)
        return fail(kErrorRootCertificate);
    // The key first: a certificate on disk always has its key beside it.
    return writeWholeFile(folder + kKeyFile, bioText(keyBio.get()), 0600) &&
           writeWholeFile(folder + kCertificateFile, bioText(certificateBio.get()), 0644);
}

std::string CertificateAuthority::certificatePem() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !certificate_ || PEM_write_bio_X509(bio.get(), certificate_.get()) != 1)
        return {};
    return bioText(bio.get());
}

std::string CertificateAuthority::fingerprint() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (!certificate_ || X509_digest(certificate_.get(), EVP_sha256(), digest, &size) != 1)
        return {};
    return hex(digest, size);
}

std::string CertificateAuthority::subjectText() const {
    if (!certificate_)
        return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate_.get()), 0,
                       XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    return bioText(bio.get());
}

std::shared_ptr<const HostCertificate> CertificateAuthority::issue(std::string_view host) const {
    std::string name;
    const HostKind kind = classifyHost(host, name);
    if (kind == HostKind::Invalid || !certificate_) {
        fail(certificate_ ? kErrorHostName : kErrorRootCertificate);
        return nullptr;
    }
    auto result = std::make_shared<HostCertificate>();
    result->key.reset(EVP_EC_gen("P-256"));
    result->certificate.reset(X509_new());
    X509* x = result->certificate.get();
    if (!result->key || !x) {
        fail(kErrorHostName);
        return nullptr;
    }
    X509_NAME* subject = X509_get_subject_name(x);
    bool ok = X509_set_version(x, X509_VERSION_3) == 1 && setRandomSerial(x) &&
              addName(subject, "O", "Tidewell") &&
              (name.size() > 64 || addName(subject, "CN", name)) &&
              X509_set_issuer_name(x, X509_get_subject_name(certificate_.get())) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), -86400) &&
              X509_time_adj_ex(X509_getm_notAfter(x), kHostValidityDays, 0, nullptr) &&
              X509_set_pubkey(x, result->key.get()) == 1;
    // Never valid beyond the root that vouches for it.
    const ASN1_TIME* rootEnd = X509_get0_notAfter(certificate_.get());
    if (ok && ASN1_TIME_compare(X509_get0_notAfter(x), rootEnd) > 0)
        ok = X509_set1_notAfter(x, rootEnd) == 1;
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate_.get(), x, nullptr, nullptr, 0);
    ok = ok && addExtension(x, context, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(x, context, NID_key_usage, "critical,digitalSignature") &&
         addExtension(x, context, NID_ext_key_usage, "serverAuth") &&
         addExtension(x, context, NID_authority_key_identifier, "keyid") &&
         addSubjectAltName(x, kind, name) && X509_sign(x, key_.get(), EVP_sha256()) > 0;
    if (!ok) {
        fail(kErrorHostName);
        return nullptr;
    }
    return result;
}

std::shared_ptr<const HostCertificate> HostCertificateCache::get(std::string_view host,
                                                                 std::time_t now) {
    std::string name;
    if (classifyHost(host, name) == HostKind::Invalid) {
        setLastError(kErrorHostName);
        return nullptr;
    }
    std::time_t renewFrom = now + 86400;
    {
        std::lock_guard guard(mutex_);
        if (auto it = index_.find(name); it != index_.end()) {
            const auto& cached = it->second->second;
            if (X509_cmp_time(X509_get0_notAfter(cached->certificate.get()), &renewFrom) > 0) {
                order_.splice(order_.begin(), order_, it->second);
                return cached;
            }
            order_.erase(it->second);
            index_.erase(it);
        }
    }
    // Made outside the lock: other hosts need not wait for this one. Two
    // threads after the same new name each make one; the first kept wins.
    std::shared_ptr<const HostCertificate> made = authority_.issue(name);
    if (!made)
        return nullptr;
    std::lock_guard guard(mutex_);
    if (auto it = index_.find(name); it != index_.end()) {
        order_.splice(order_.begin(), order_, it->second);
        return it->second->second;
    }
    order_.emplace_front(name, made);
    index_[name] = order_.begin();
    while (order_.size() > capacity_) {
        index_.erase(order_.back().first);
        order_.pop_back();
    }
    return made;
}

std::size_t HostCertificateCache::size() const {
    std::lock_guard guard(mutex_);
    return order_.size();
}
