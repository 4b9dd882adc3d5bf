#pragma once
// A throw-away RSA key and self-signed certificate, made with the library at test time and
// written as PEM files into a temporary folder, for TLS tests that need a server identity.

#include "../ServerTestSupport.h"

#include <string>

namespace servertest {

enum class KeyCipher { None, DesCbc, Aes256Cbc };

class TestCertificate {
public:
    // Writes "cert.pem" into a fresh folder. The key pair is made once per process.
    TestCertificate();

    const std::string& Folder() const { return folder_.Path(); }
    std::string CertificateFile() const { return folder_.Path() + "cert.pem"; }
    // Writes the certificate's private key as PEM under `name`, encrypted with `cipher`
    // under `passPhrase`; returns the path. DES-CBC is written by a child process, so that
    // this process never loads the legacy provider itself and a key that loads proves
    // that the server did.
    std::string WriteKey(const std::string& name, KeyCipher cipher, const std::string& passPhrase) const;
    // The same for a key pair that does not belong to the certificate.
    std::string WriteOtherKey(const std::string& name, KeyCipher cipher, const std::string& passPhrase) const;
    // Writes any bytes under `name`; returns the path.
    std::string WriteFile(const std::string& name, const std::string& contents) const;

private:
    TempFolder folder_;
};

// One certificate folder for the whole run, made on first use.
const TestCertificate& SharedTestCertificate();

}  // namespace servertest
