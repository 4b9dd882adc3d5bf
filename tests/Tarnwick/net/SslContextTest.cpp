#include "net/SslContext.h"

#include "ConfigAccessor.h"
#include "TestCertificate.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using servertest::KeyCipher;
using servertest::TestCertificate;

const std::string kPassPhrase = "pass-phrase";

class SslContextTest : public testing::Test {
protected:
    // The settings point at the given key and the test certificate.
    CConfigAccessor Settings(const std::string& keyFile, const std::string& passPhrase)
    {
        CConfigAccessor settings = tree_.GetAccessor("Setting");
        settings.SetString("SSL::PrivateKey", keyFile);
        settings.SetString("SSL::Certificate", certificate_.CertificateFile());
        settings.SetString("SSL::Password", passPhrase);
        return settings;
    }

    const TestCertificate& certificate_ = servertest::SharedTestCertificate();
    CConfigClass tree_;
    CSSLContext context_;
};

struct KeyCase {
    const char* what;
    KeyCipher cipher;
};

TEST_F(SslContextTest, InitLoadsTheCertificateAndItsKeyInEveryPemForm)
{
    const KeyCase cases[] = {
        {"DES-CBC, as the key tools of old write it", KeyCipher::DesCbc},
        {"AES-256-CBC", KeyCipher::Aes256Cbc},
        {"unencrypted", KeyCipher::None},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string key = certificate_.WriteKey("key.pem", c.cipher, kPassPhrase);
        CSSLContext context;
        EXPECT_EQ(0, context.Init(Settings(key, kPassPhrase)));
        EXPECT_NE(nullptr, context.GetContext());
        EXPECT_EQ(kPassPhrase, context.GetPassword());
    }
}

TEST_F(SslContextTest, TheDefaultPassPhraseIsWemp)
{
    const std::string key = certificate_.WriteKey("key.pem", KeyCipher::Aes256Cbc, "wemp");
    CConfigAccessor settings = tree_.GetAccessor("Setting");
    settings.SetString("SSL::PrivateKey", key);
    settings.SetString("SSL::Certificate", certificate_.CertificateFile());
    EXPECT_EQ(0, context_.Init(settings));
    EXPECT_EQ("wemp", context_.GetPassword());
}

TEST_F(SslContextTest, AWrongPassPhraseFailsInit)
{
    for (KeyCipher cipher : {KeyCipher::DesCbc, KeyCipher::Aes256Cbc}) {
        const std::string key = certificate_.WriteKey("key.pem", cipher, kPassPhrase);
        CSSLContext context;
        EXPECT_EQ(-1, context.Init(Settings(key, "not the pass phrase")));
    }
}

TEST_F(SslContextTest, APassPhraseLongerThanTheLibraryTakesFailsInit)
{
    const std::string longPassPhrase(2000, 'p');  // beyond the library's 1024-byte buffer
    const std::string key = certificate_.WriteKey("key.pem", KeyCipher::Aes256Cbc, longPassPhrase);
    EXPECT_EQ(-1, context_.Init(Settings(key, longPassPhrase)));
}

TEST_F(SslContextTest, MissingOrBrokenFilesFailInit)
{
    const std::string goodKey = certificate_.WriteKey("key.pem", KeyCipher::Aes256Cbc, kPassPhrase);
    const std::string garbage = certificate_.WriteFile("garbage.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n");
    const std::string otherKey = certificate_.WriteOtherKey("other.pem", KeyCipher::Aes256Cbc, kPassPhrase);
    const std::string missing = certificate_.Folder() + "missing.pem";
    struct {
        const char* what;
        std::string key;
        std::string certificate;
    } cases[] = {
        {"missing key", missing, certificate_.CertificateFile()},
        {"missing certificate", goodKey, missing},
        {"malformed key", garbage, certificate_.CertificateFile()},
        {"malformed certificate", goodKey, garbage},
        {"key of another certificate", otherKey, certificate_.CertificateFile()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CConfigAccessor settings = Settings(c.key, kPassPhrase);
        settings.SetString("SSL::Certificate", c.certificate);
        CSSLContext context;
        EXPECT_EQ(-1, context.Init(settings));
    }
}

TEST_F(SslContextTest, InitAgainReplacesTheContext)
{
    const std::string key = certificate_.WriteKey("key.pem", KeyCipher::None, "");
    ASSERT_EQ(0, context_.Init(Settings(key, "")));
    ASSERT_EQ(0, context_.Init(Settings(key, "")));
    EXPECT_NE(nullptr, context_.GetContext());
    EXPECT_EQ(-1, context_.Init(Settings(certificate_.Folder() + "missing.pem", "")));
}

TEST_F(SslContextTest, ConnectionsComeOnlyFromAWholeContextAndOutliveItsReplacement)
{
    EXPECT_EQ(nullptr, context_.NewConnection()) << "before Init";
    const std::string key = certificate_.WriteKey("key.pem", KeyCipher::None, "");
    ASSERT_EQ(0, context_.Init(Settings(key, "")));
    SSL* before = context_.NewConnection();
    ASSERT_NE(nullptr, before);
    SSL_CTX* first = context_.GetContext();
    EXPECT_EQ(first, SSL_get_SSL_CTX(before));

    ASSERT_EQ(0, context_.Init(Settings(key, "")));
    EXPECT_NE(nullptr, context_.GetContext());
    // The connection keeps the context it was made with, key included, after the swap.
    EXPECT_NE(nullptr, SSL_CTX_get0_certificate(SSL_get_SSL_CTX(before)));
    EXPECT_NE(nullptr, SSL_get_privatekey(before));
    SSL_free(before);

    EXPECT_EQ(-1, context_.Init(Settings(certificate_.Folder() + "missing.pem", "")));
    EXPECT_EQ(nullptr, context_.GetContext()) << "no half-made context is left in use";
    EXPECT_EQ(nullptr, context_.NewConnection());
}

struct CallbackCase {
    const char* what;
    int size;
    int expected;
};

TEST(SslContextPasswordTest, TheCallbackGivesThePassPhraseOnlyWhenItFitsWithItsZero)
{
    CConfigClass tree;
    CConfigAccessor settings = tree.GetAccessor("Setting");
    settings.SetString("SSL::Password", "abcd");
    settings.SetString("SSL::Certificate", "/nonexistent/cert.pem");
    CSSLContext context;
    context.Init(settings);  // fails at the certificate, after storing the pass phrase
    ASSERT_EQ("abcd", context.GetPassword());

    const CallbackCase cases[] = {
        {"room to spare", 100, 4},
        {"exactly with its zero", 5, 4},
        {"no room for the zero", 4, 0},
        {"no room at all", 0, 0},
    };
    for (const CallbackCase& c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[128];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(c.expected, CSSLContext::PasswordCallback(buffer, c.size, 0, &context));
        if (c.expected > 0)
            EXPECT_STREQ("abcd", buffer);
        else
            EXPECT_EQ('x', buffer[0]);  // nothing written
    }
}

TEST(SslContextSeedTest, SeedTextIs10240BytesFromOneTo254)
{
    EXPECT_EQ(10240, CSSLContext::kSeedLength);
    const std::string seed = CSSLContext::MakeSeedText(CSSLContext::kSeedLength);
    ASSERT_EQ(10240u, seed.size());
    EXPECT_EQ(std::string::npos, seed.find('\0'));
    EXPECT_EQ(std::string::npos, seed.find('\xFF'));
    // Not one byte repeated: the generator actually ran.
    EXPECT_NE(std::string::npos, seed.find_first_not_of(seed[0]));
}

}  // namespace
