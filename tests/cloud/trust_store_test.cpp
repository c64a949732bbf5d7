// The libcurl port's trust store against devcloud: authorities are found in
// the hashed certificate folder, by name, when a chain needs one.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "devcloud/devcloud_fixture.h"
#include "platform/posix/internet_curl.h"

namespace lumivo {
namespace {

// A certificate folder as the system keeps it: each certificate under the
// hash of its subject name ("<hash>.0").
class HashedFolder {
  public:
    HashedFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("lumivo-certs-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~HashedFolder() { std::filesystem::remove_all(path_); }
    void Add(const std::string& certFile) {
        FILE* in = std::fopen(certFile.c_str(), "r");
        ASSERT_NE(in, nullptr);
        std::unique_ptr<X509, decltype(&X509_free)> cert(
            PEM_read_X509(in, nullptr, nullptr, nullptr), X509_free);
        std::fclose(in);
        ASSERT_TRUE(cert);
        char name[16];
        std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert.get()));
        std::filesystem::copy_file(certFile, path_ / name);
    }
    std::string Path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// SSL_CERT_DIR set for the adapters made while it lives.
class CertDirEnvironment {
  public:
    explicit CertDirEnvironment(const std::string& folder) {
        setenv(X509_get_default_cert_dir_env(), folder.c_str(), 1);
    }
    ~CertDirEnvironment() { unsetenv(X509_get_default_cert_dir_env()); }
};

// One GET of the device path over the port itself, with the certificate checks
// that ignore nothing but the name, and the given security flags beside; the
// port's last error when it fails.
unsigned long Get(CurlInternet& internet, const DevCloud& cloud, std::uint32_t moreFlags = 0) {
    InternetHandle session =
        internet.InternetOpen(L"ua", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetHandle connection =
        internet.InternetConnect(session, L"localhost", static_cast<unsigned short>(cloud.port()),
                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InternetHandle request =
        internet.HttpOpenRequest(connection, L"GET", L"/api/", nullptr, nullptr, nullptr,
                                 INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID, 0);
    if (moreFlags != 0) {
        std::uint32_t flags = 0;
        unsigned long length = sizeof flags;
        internet.InternetQueryOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, length);
        flags |= moreFlags;
        internet.InternetSetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    const bool sent = internet.HttpSendRequest(request, L"", 0, nullptr, 0);
    const unsigned long error = sent ? 0 : internet.GetLastError();
    internet.InternetCloseHandle(request);
    internet.InternetCloseHandle(connection);
    internet.InternetCloseHandle(session);
    return error;
}

TEST(TrustStoreTest, AuthorityIsLookedUpInTheHashedFolderWhenTheChainNeedsIt) {
    DevCloud cloud;
    ASSERT_TRUE(cloud.Start());
    HashedFolder folder;
    {
        // Not in the folder: the server's certificate is of an unknown authority.
        CertDirEnvironment environment(folder.Path());
        CurlInternet internet(CurlTimeouts{}, "::127.0.0.1:" + std::to_string(cloud.port()));
        EXPECT_EQ(Get(internet, cloud), kInternetInvalidCa);
    }
    folder.Add(cloud.certFile());
    {
        CertDirEnvironment environment(folder.Path());
        CurlInternet internet(CurlTimeouts{}, "::127.0.0.1:" + std::to_string(cloud.port()));
        EXPECT_EQ(Get(internet, cloud), 0u);
        EXPECT_EQ(Get(internet, cloud), 0u);  // again, from what the store keeps
        EXPECT_EQ(internet.TrustStoreLoads(), 1);
    }
}

// Full handshakes only, so that every request meets the server's chain: the
// chain let through before is taken again only under the same flags, and
// another server's chain is verified (and refused) on its own.
TEST(TrustStoreTest, AVerifiedChainIsReusedOnlyForTheSameChainUnderTheSameFlags) {
    DevCloud cloud;
    DevCloud forged({"--cert-bad-signature"});
    ASSERT_TRUE(cloud.Start());
    ASSERT_TRUE(forged.Start());
    CurlInternet internet(CurlTimeouts{}, "localhost::127.0.0.1:", false);
    EXPECT_EQ(Get(internet, cloud, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
    EXPECT_EQ(Get(internet, cloud, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
    EXPECT_EQ(internet.ChainVerifications(), 1);
    // Without the unknown-authority flag the same chain is checked again and refused.
    EXPECT_EQ(Get(internet, cloud), kInternetInvalidCa);
    EXPECT_EQ(internet.ChainVerifications(), 2);
    EXPECT_EQ(Get(internet, cloud, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
    EXPECT_NE(Get(internet, forged, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
    EXPECT_EQ(internet.ChainVerifications(), 4);
}

}  // namespace
}  // namespace lumivo
