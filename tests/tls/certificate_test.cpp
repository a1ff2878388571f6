#include "tls/CertificateAuthority.h"
#include "tls/TlsError.h"

#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Days from now to `time` (negative in the past).
double daysFromNow(const ASN1_TIME* time) {
    int days = 0;
    int seconds = 0;
    ASN1_TIME_diff(&days, &seconds, nullptr, time);
    return days + seconds / 86400.0;
}

bool isCa(X509* certificate) {
    return X509_check_ca(certificate) != 0;
}

std::string extensionText(X509* certificate, int nid) {
    const int at = X509_get_ext_by_NID(certificate, nid, -1);
    if (at < 0)
        return {};
    X509_EXTENSION* extension = X509_get_ext(certificate, at);
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509V3_EXT_print(bio.get(), extension, 0, 0);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    std::string text(data, std::size_t(size));
    if (X509_EXTENSION_get_critical(extension))
        text = "critical " + text;
    return text;
}

// Verifies `leaf` against `root` alone, for `host`, the way an origin client would.
int verify(X509* root, X509* leaf, const std::string& host) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, leaf, nullptr);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (host.find_first_not_of("0123456789.:") == std::string::npos)
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
    const int ok = X509_verify_cert(context);
    const int error = X509_STORE_CTX_get_error(context);
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    return ok == 1 ? X509_V_OK : error;
}

TEST(RootCertificate, MadeOnceNextToTheCacheFolderWithAPrivateKey) {
    ScopedDataHome home;
    std::string folder;
    ASSERT_TRUE(CertificateAuthority::findFolder(folder));
    EXPECT_EQ(folder, home.path() + "/Merovex/Tidewell/CA/");

    CertificateAuthority first;
    ASSERT_TRUE(first.loadOrCreate(folder)) << errorText(lastError());
    EXPECT_EQ(modeOf(folder.substr(0, folder.size() - 1)), 0700u);
    EXPECT_EQ(modeOf(folder + CertificateAuthority::kKeyFile), 0600u);
    const std::string keyText = readText(folder + CertificateAuthority::kKeyFile);
    EXPECT_NE(keyText.find("PRIVATE KEY"), std::string::npos);
    EXPECT_EQ(readText(folder + CertificateAuthority::kCertificateFile), first.certificatePem());

    X509* root = first.certificate();
    EXPECT_TRUE(isCa(root));
    EXPECT_EQ(extensionText(root, NID_basic_constraints), "critical CA:TRUE, pathlen:0");
    EXPECT_EQ(extensionText(root, NID_key_usage), "critical Certificate Sign, CRL Sign");
    EVP_PKEY* key = X509_get0_pubkey(root);
    char group[64] = {};
    EVP_PKEY_get_group_name(key, group, sizeof group, nullptr);
    EXPECT_STREQ(group, "prime256v1");
    EXPECT_NEAR(daysFromNow(X509_get0_notAfter(root)), 3650, 1);
    EXPECT_LE(daysFromNow(X509_get0_notBefore(root)), 0);
    const std::string subject = first.subjectText();
    EXPECT_NE(subject.find("O = Tidewell"), std::string::npos) << subject;
    EXPECT_NE(subject.find(CertificateAuthority::currentOwner()), std::string::npos) << subject;
    EXPECT_EQ(first.fingerprint().size(), 64u);

    // Later uses load the same root.
    CertificateAuthority second;
    ASSERT_TRUE(second.loadOrCreate(folder));
    EXPECT_EQ(second.fingerprint(), first.fingerprint());
    // A key someone made readable is made private again.
    ::chmod((folder + CertificateAuthority::kKeyFile).c_str(), 0644);
    ASSERT_TRUE(CertificateAuthority().load(folder));
    EXPECT_EQ(modeOf(folder + CertificateAuthority::kKeyFile), 0600u);
}

TEST(RootCertificate, ProcessesStartingAtOnceShareOneRoot) {
    ScopedDataHome home;
    std::string folder;
    ASSERT_TRUE(CertificateAuthority::findFolder(folder));
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            CertificateAuthority authority;
            if (!authority.loadOrCreate(folder))
                _exit(1);
            std::ofstream(home.path() + "/child" + std::to_string(i)) << authority.fingerprint();
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CertificateAuthority kept;
    ASSERT_TRUE(kept.load(folder));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(readText(home.path() + "/child" + std::to_string(i)), kept.fingerprint());
}

TEST(RootCertificate, DamagedFilesAreReportedAndLeftAlone) {
    ScopedDataHome home;
    std::string folder;
    ASSERT_TRUE(CertificateAuthority::findFolder(folder));
    ASSERT_TRUE(CertificateAuthority().loadOrCreate(folder));
    const std::string certificatePath = folder + CertificateAuthority::kCertificateFile;
    const std::string keyPath = folder + CertificateAuthority::kKeyFile;
    const std::string goodCertificate = readText(certificatePath);

    struct Case {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"garbage certificate", [&] { std::ofstream(certificatePath) << "not a certificate"; }},
        {"missing key", [&] { ::unlink(keyPath.c_str()); }},
        {"key of another root",
         [&] {
             CertificateAuthority other;
             ASSERT_TRUE(other.loadOrCreate(home.path() + "/other/"));
             std::ofstream(keyPath) << readText(home.path() + "/other/root-ca.key");
         }},
    };
    for (const Case& c : cases) {
        c.damage();
        const std::string certificateBefore = readText(certificatePath);
        CertificateAuthority authority;
        EXPECT_FALSE(authority.loadOrCreate(folder)) << c.what;
        EXPECT_EQ(lastError(), kErrorRootCertificate) << c.what;
        EXPECT_FALSE(authority.loaded()) << c.what;
        EXPECT_EQ(readText(certificatePath), certificateBefore) << c.what;
        std::ofstream(certificatePath) << goodCertificate;
    }
    // Not made yet is no error for load-or-create, only for load.
    ScopedDataHome empty;
    ASSERT_TRUE(CertificateAuthority::findFolder(folder));
    EXPECT_FALSE(CertificateAuthority().load(folder));
    EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
}

class HostCertificates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(authority.create("tester@test")); }
    CertificateAuthority authority;
};

TEST_F(HostCertificates, CarryTheNameAndVerifyAgainstTheRoot) {
    struct Row {
        const char* host;
        const char* san;
    } rows[] = {
        {"WWW.Example.com", "DNS:www.example.com"},
        {"127.0.0.1", "IP Address:127.0.0.1"},
        {"[::1]", "IP Address:0:0:0:0:0:0:0:1"},
    };
    std::set<std::string> serials;
    for (const Row& row : rows) {
        auto issued = authority.issue(row.host);
        ASSERT_TRUE(issued) << row.host;
        X509* leaf = issued->certificate.get();
        EXPECT_EQ(extensionText(leaf, NID_subject_alt_name), row.san);
        EXPECT_EQ(extensionText(leaf, NID_basic_constraints), "critical CA:FALSE");
        EXPECT_EQ(extensionText(leaf, NID_ext_key_usage), "TLS Web Server Authentication");
        EXPECT_FALSE(isCa(leaf));
        EXPECT_NEAR(daysFromNow(X509_get0_notBefore(leaf)), -1, 0.01);
        EXPECT_NEAR(daysFromNow(X509_get0_notAfter(leaf)), 47, 0.01);
        EXPECT_EQ(X509_check_private_key(leaf, issued->key.get()), 1);
        EXPECT_NE(EVP_PKEY_eq(issued->key.get(), X509_get0_pubkey(authority.certificate())), 1);
        std::string host = row.host;
        if (host.front() == '[')
            host = host.substr(1, host.size() - 2);
        EXPECT_EQ(verify(authority.certificate(), leaf, host), X509_V_OK) << row.host;
        EXPECT_EQ(verify(authority.certificate(), leaf, "other.example"),
                  X509_V_ERR_HOSTNAME_MISMATCH);
        BioPtr bio(BIO_new(BIO_s_mem()));
        i2a_ASN1_INTEGER(bio.get(), X509_get0_serialNumber(leaf));
        char* data = nullptr;
        serials.insert(std::string(data, std::size_t(BIO_get_mem_data(bio.get(), &data))));
    }
    EXPECT_EQ(serials.size(), 3u);
    for (const char* bad : {"a.com,DNS:evil.com", "evil/../x", "", "*.x.com"}) {
        EXPECT_FALSE(authority.issue(bad)) << bad;
        EXPECT_EQ(lastError(), kErrorHostName);
    }
}

TEST_F(HostCertificates, CacheReusesAndForgetsTheLeastRecentlyUsed) {
    HostCertificateCache cache(authority, 2);
    auto a = cache.get("a.test");
    ASSERT_TRUE(a);
    EXPECT_EQ(cache.get("A.TEST."), a); // one name, one certificate
    auto b = cache.get("b.test");
    EXPECT_EQ(cache.get("a.test"), a); // a is now the most recent
    cache.get("c.test");               // b goes
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.get("a.test"), a);
    EXPECT_NE(cache.get("b.test"), b);
    EXPECT_FALSE(cache.get("bad name"));
    EXPECT_EQ(lastError(), kErrorHostName);

    // A capture running for weeks never hands out a certificate at its end.
    const std::time_t now = std::time(nullptr);
    EXPECT_EQ(cache.get("a.test", now + 45 * 86400), a);
    auto renewed = cache.get("a.test", now + 46 * 86400 + 60);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed, a);
    EXPECT_EQ(cache.get("a.test"), renewed);
    EXPECT_EQ(cache.size(), 2u);
}

// The root signs host certificates only: an authority someone makes under it
// with the root's key is worth nothing to a client.
TEST(RootCertificate, AnAuthorityBelowTheRootIsRefused) {
    ScopedDataHome home;
    std::string folder;
    ASSERT_TRUE(CertificateAuthority::findFolder(folder));
    CertificateAuthority root;
    ASSERT_TRUE(root.loadOrCreate(folder));
    BioPtr keyBio(BIO_new_file((folder + CertificateAuthority::kKeyFile).c_str(), "r"));
    EvpPkeyPtr rootKey(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(rootKey);

    // An intermediate signed by the root, and a host certificate it signs.
    CertificateAuthority intermediate;
    ASSERT_TRUE(intermediate.create("intermediate@test"));
    X509* middle = intermediate.certificate();
    ASSERT_EQ(X509_set_issuer_name(middle, X509_get_subject_name(root.certificate())), 1);
    ASSERT_GT(X509_sign(middle, rootKey.get(), EVP_sha256()), 0);
    auto leaf = intermediate.issue("host.test");
    ASSERT_TRUE(leaf);

    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root.certificate());
    STACK_OF(X509)* chain = sk_X509_new_null();
    sk_X509_push(chain, middle);
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, leaf->certificate.get(), chain);
    EXPECT_NE(X509_verify_cert(context), 1);
    EXPECT_EQ(X509_STORE_CTX_get_error(context), X509_V_ERR_PATH_LENGTH_EXCEEDED);
    X509_STORE_CTX_free(context);
    sk_X509_free(chain);
    X509_STORE_free(store);
}

} // namespace
