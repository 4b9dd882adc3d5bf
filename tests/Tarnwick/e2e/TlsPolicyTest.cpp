// The HTTPS port as a standard client sees it: TLS 1.0 and 1.1 refused (RFC 8996), and in
// TLS 1.2 only ECDHE suites with AES-GCM or ChaCha20-Poly1305.

#include "CurlFixture.h"

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

const char kOpenSsl[] = "/usr/bin/openssl";
// A handshake on loopback is a matter of milliseconds.
constexpr std::chrono::seconds kClientLimit{10};
// The client's own floor would refuse the old protocols before the server is asked.
const char kAnyCipherAtAll[] = "DEFAULT@SECLEVEL=0";

struct HandshakeCase {
    const char* what;
    std::vector<std::string> options;
    bool accepted;
};

class TlsPolicyTest : public servertest::CurlFixture {
protected:
    // One s_client run against the HTTPS port, its input empty so it ends after the
    // handshake.
    testsupport::ChildResult Handshake(const std::vector<std::string>& options)
    {
        std::vector<std::string> args = {"s_client", "-connect", "127.0.0.1:" + std::to_string(securePort)};
        args.insert(args.end(), options.begin(), options.end());
        testsupport::ChildProcess client(kOpenSsl, args);
        return client.Wait(kClientLimit);
    }

    int securePort = 0;
};

TEST_F(TlsPolicyTest, OnlyTls12AeadSuitesAndTls13AreAccepted)
{
    securePort = EnableHttps();
    Start();
    const HandshakeCase cases[] = {
        {"TLS 1.0", {"-tls1", "-cipher", kAnyCipherAtAll}, false},
        {"TLS 1.1", {"-tls1_1", "-cipher", kAnyCipherAtAll}, false},
        {"TLS 1.2 ECDHE AES-CBC SHA-1", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA"}, false},
        {"TLS 1.2 ECDHE AES-CBC SHA-384", {"-tls1_2", "-cipher", "ECDHE-RSA-AES256-SHA384"}, false},
        {"TLS 1.2 RSA key exchange AES-CBC", {"-tls1_2", "-cipher", "AES128-SHA256"}, false},
        {"TLS 1.2 RSA key exchange AES-GCM", {"-tls1_2", "-cipher", "AES128-GCM-SHA256"}, false},
        {"TLS 1.2 every CBC suite",
         {"-tls1_2", "-cipher", "ALL:!AESGCM:!AESCCM:!CHACHA20:!ARIAGCM:@SECLEVEL=0"},
         false},
        {"TLS 1.2 ECDHE AES-128-GCM", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"}, true},
        {"TLS 1.2 ECDHE AES-256-GCM", {"-tls1_2", "-cipher", "ECDHE-RSA-AES256-GCM-SHA384"}, true},
        {"TLS 1.2 ECDHE ChaCha20-Poly1305", {"-tls1_2", "-cipher", "ECDHE-RSA-CHACHA20-POLY1305"}, true},
        {"TLS 1.3", {"-tls1_3"}, true},
    };
    for (const HandshakeCase& c : cases) {
        const testsupport::ChildResult run = Handshake(c.options);
        ASSERT_FALSE(run.timedOut) << c.what;
        EXPECT_EQ(run.exitCode == 0, c.accepted) << c.what << "\n" << run.out << run.err;
        if (c.accepted) {
            EXPECT_NE(run.out.find("Cipher is "), std::string::npos) << c.what;
        } else {
            // Refused by the server (an alert), not by the client's own settings.
            EXPECT_NE(run.err.find("alert"), std::string::npos) << c.what << "\n" << run.err;
        }
    }
}

}  // namespace
