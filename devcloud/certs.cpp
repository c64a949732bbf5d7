#include "devcloud/certs.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace lumivo::devcloud {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* x) const { X509_free(x); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

std::string OpenSslError(const char* what) {
    char buffer[256] = "";
    ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
    return std::string(what) + ": " + buffer;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) return false;
    bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// A certificate for `host` (empty: localhost and the loopback addresses),
// signed by issuerKey under issuerCert (null: self-signed).
CertPtr MakeCertificate(EVP_PKEY* key, const std::string& host, bool ca, bool expired,
                        bool clientPurpose, X509* issuerCert, EVP_PKEY* issuerKey) {
    CertPtr cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;  // positive
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    const long day = 24L * 60 * 60;
    if (expired) {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -730 * day);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), -1 * day);
    } else {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -1 * day);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3650 * day);
    }
    X509_set_pubkey(cert.get(), key);
    const std::string cn = ca ? "devcloud test authority" : (host.empty() ? "localhost" : host);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("devcloud"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509* issuer = issuerCert ? issuerCert : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));

    const std::string san = host.empty() ? "DNS:localhost,IP:127.0.0.1,IP:::1" : "DNS:" + host;
    bool ok = AddExtension(cert.get(), issuer, NID_subject_key_identifier, "hash") &&
              AddExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid:always");
    if (ca) {
        ok = ok && AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(cert.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        // A self-signed server certificate is its own authority, as tools make them.
        ok = ok &&
             AddExtension(cert.get(), issuer, NID_basic_constraints,
                          issuerCert ? "CA:FALSE" : "CA:TRUE") &&
             AddExtension(cert.get(), issuer, NID_subject_alt_name, san.c_str());
        if (clientPurpose)
            ok = ok && AddExtension(cert.get(), issuer, NID_ext_key_usage, "clientAuth");
    }
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

// Writes through a temporary file renamed over the target, so a crash never
// leaves half a key behind; the key is readable by its owner only.
bool WritePem(const std::string& path, bool isKey, EVP_PKEY* key, X509* cert, X509* chain) {
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, isKey ? 0600 : 0644);
    if (fd < 0) return false;
    FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    bool ok = isKey
                  ? PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1
                  : PEM_write_X509(file, cert) == 1 && (!chain || PEM_write_X509(file, chain) == 1);
    ok = std::fflush(file) == 0 && ::fsync(fd) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

KeyPtr LoadKey(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return nullptr;
    KeyPtr key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return key;
}

bool CertificateMatchesKey(const std::string& path, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    CertPtr cert(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return cert && X509_check_private_key(cert.get(), key) == 1;
}

}  // namespace

bool PrepareCertificate(const std::string& dataDir, const CertOptions& options,
                        std::string& certFile, std::string& keyFile, std::string& error) {
    keyFile = dataDir + "/key.pem";
    KeyPtr key = LoadKey(keyFile);
    if (!key) {
        key.reset(EVP_RSA_gen(2048));
        if (!key) {
            error = OpenSslError("cannot make a key");
            return false;
        }
        if (!WritePem(keyFile, true, key.get(), nullptr, nullptr)) {
            error = "cannot write " + keyFile;
            return false;
        }
    }

    if (!options.IsVariant()) {
        certFile = dataDir + "/cert.pem";
        if (CertificateMatchesKey(certFile, key.get())) return true;
        CertPtr cert = MakeCertificate(key.get(), "", false, false, false, nullptr, nullptr);
        if (!cert) {
            error = OpenSslError("cannot make the certificate");
            return false;
        }
        if (!WritePem(certFile, false, nullptr, cert.get(), nullptr)) {
            error = "cannot write " + certFile;
            return false;
        }
        return true;
    }

    certFile = dataDir + "/cert-variant.pem";
    CertPtr cert;
    CertPtr authority;
    if (options.badSignature) {
        // Chain leaf + authority, so that a client can check the leaf's
        // signature and finds it broken.
        KeyPtr authorityKey(EVP_RSA_gen(2048));
        if (authorityKey)
            authority =
                MakeCertificate(authorityKey.get(), "", true, false, false, nullptr, nullptr);
        if (authority)
            cert = MakeCertificate(key.get(), options.host, false, options.expired,
                                   options.clientPurpose, authority.get(), authorityKey.get());
        if (cert) {
            const ASN1_BIT_STRING* signature = nullptr;
            X509_get0_signature(&signature, nullptr, cert.get());
            ASN1_BIT_STRING* writable = const_cast<ASN1_BIT_STRING*>(signature);
            writable->data[writable->length / 2] ^= 0x5A;
        }
    } else {
        cert = MakeCertificate(key.get(), options.host, false, options.expired,
                               options.clientPurpose, nullptr, nullptr);
    }
    if (!cert) {
        error = OpenSslError("cannot make the certificate");
        return false;
    }
    if (!WritePem(certFile, false, nullptr, cert.get(), authority.get())) {
        error = "cannot write " + certFile;
        return false;
    }
    return true;
}

}  // namespace lumivo::devcloud
