#pragma once
// The device side's TLS key and certificate, made with OpenSSL in the data
// folder. The normal certificate is self-signed for "localhost", 127.0.0.1
// and ::1 and is kept across restarts; the test variants are made afresh at
// every start.

#include <string>

namespace lumivo::devcloud {

struct CertOptions {
    std::string host;            // non-empty: issued for this host name only
    bool expired = false;        // validity ended yesterday
    bool badSignature = false;   // signed by a throw-away authority, signature broken
    bool clientPurpose = false;  // extended key usage: client authentication only
    bool IsVariant() const { return !host.empty() || expired || badSignature || clientPurpose; }
};

// Makes or reuses the key and certificate; gives the PEM files to serve
// (the certificate file may hold a chain) or false with a message.
bool PrepareCertificate(const std::string& dataDir, const CertOptions& options,
                        std::string& certFile, std::string& keyFile, std::string& error);

}  // namespace lumivo::devcloud
