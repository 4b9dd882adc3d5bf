#include "net/SslContext.h"

#include "ConfigAccessor.h"
#include "FileIo.h"
#include "SettingsSchema.h"

#include <openssl/err.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

namespace {

// Loads the providers once per process: "legacy" so that keys encrypted with DES-CBC still
// load, and "default", which loading any provider explicitly would otherwise switch off.
// Never unloaded. The library's clean-up at exit leaves a provider whose load had no
// matching unload, so the handles are held here, where leak checkers find them reachable.
OSSL_PROVIDER* defaultProvider = nullptr;
OSSL_PROVIDER* legacyProvider = nullptr;

void LoadProviders()
{
    static const bool loaded = [] {
        defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");  // absent: such keys fail to load, nothing else
        return true;
    }();
    (void)loaded;
}

// TLS 1.2 suites offered: forward secrecy and authenticated encryption only, as current
// server recommendations have it; the CBC suites (padding oracles, Lucky13) are not among
// them. TLS 1.3 suites are all AEAD and keep the library's list.
const char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// Sets up a context that no other thread sees yet: protocols, certificate chain, key.
bool LoadIdentity(SSL_CTX* context, CSSLContext* owner, const std::string& certificateFile,
                  const std::string& keyFile)
{
    // TLS 1.0 and 1.1 are deprecated (RFC 8996).
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(context, kTls12Ciphers) != 1)
        return false;
    // A client that drops the connection without close_notify ends the stream normally.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_CTX_use_certificate_chain_file(context, platform::NativePath(certificateFile).c_str()) != 1)
        return false;
    SSL_CTX_set_default_passwd_cb(context, &CSSLContext::PasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(context, owner);
    return SSL_CTX_use_PrivateKey_file(context, platform::NativePath(keyFile).c_str(), SSL_FILETYPE_PEM) == 1 &&
           SSL_CTX_check_private_key(context) == 1;
}

}  // namespace

CSSLContext::CSSLContext() = default;

CSSLContext::~CSSLContext() { Replace(nullptr); }

void CSSLContext::Replace(SSL_CTX* context)
{
    SSL_CTX* old = nullptr;
    {
        std::lock_guard<platform::CCriticalSection> lock(lock_);
        old = context_;
        context_ = context;
    }
    // Only this object's reference goes: connections made from the old context hold their
    // own. The library's global state stays; the context is made again at the next start.
    SSL_CTX_free(old);
}

SSL* CSSLContext::NewConnection() const
{
    std::lock_guard<platform::CCriticalSection> lock(lock_);
    return context_ ? SSL_new(context_) : nullptr;
}

SSL_CTX* CSSLContext::GetContext() const
{
    std::lock_guard<platform::CCriticalSection> lock(lock_);
    return context_;
}

std::string CSSLContext::MakeSeedText(int length)
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto seconds = std::chrono::system_clock::now().time_since_epoch();
    std::minstd_rand generator(static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count() +
        std::chrono::duration_cast<std::chrono::seconds>(seconds).count()));
    std::string text(static_cast<size_t>(length), '\0');
    for (char& c : text)
        c = static_cast<char>(generator() % 254 + 1);
    return text;
}

int CSSLContext::PasswordCallback(char* buffer, int size, int, void* context)
{
    const std::string password = static_cast<CSSLContext*>(context)->GetPassword();
    if (static_cast<int>(password.size()) + 1 > size)
        return 0;
    std::memcpy(buffer, password.c_str(), password.size() + 1);
    return static_cast<int>(password.size());
}

std::string CSSLContext::GetPassword() const
{
    std::lock_guard<platform::CCriticalSection> lock(lock_);
    return password_;
}

int CSSLContext::Init(const CConfigAccessor& settings)
{
    const CConfigAccessor ssl = settings.GetSubAccessor(schema::kSslPrivateKey.node);
    const std::string keyFile = schema::kSslPrivateKey.ReadIn(ssl);
    const std::string certificateFile = schema::kSslCertificate.ReadIn(ssl);
    {
        std::lock_guard<platform::CCriticalSection> lock(lock_);
        password_ = schema::kSslPassword.ReadIn(ssl);
    }

    LoadProviders();
    SSL_CTX* made = SSL_CTX_new(TLS_server_method());
    if (!made || !LoadIdentity(made, this, certificateFile, keyFile)) {
        SSL_CTX_free(made);
        ERR_clear_error();
        Replace(nullptr);
        return -1;
    }
    Replace(made);
    const std::string seed = MakeSeedText(kSeedLength);
    RAND_seed(seed.data(), static_cast<int>(seed.size()));
    return 0;
}
