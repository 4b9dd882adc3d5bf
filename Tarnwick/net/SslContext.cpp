#include "SslContext.h"

#include "ConfigAccessor.h"
#include "FileIo.h"

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

}  // namespace

CSSLContext::CSSLContext() = default;

CSSLContext::~CSSLContext() { Cleanup(); }

void CSSLContext::Cleanup()
{
    if (!initialised_)
        return;
    initialised_ = 0;
    SSL_CTX_free(context_);
    context_ = nullptr;
    // The library's global state stays: the context is made again at the next start.
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
    const CConfigAccessor ssl = settings.GetSubAccessor("SSL");
    const std::string keyFile = ssl.GetString("PrivateKey", "%ServerRoot%SSLKey/key.pem");
    const std::string certificateFile = ssl.GetString("Certificate", "%ServerRoot%SSLKey/ca.crt");
    {
        std::lock_guard<platform::CCriticalSection> lock(lock_);
        password_ = ssl.GetString("Password", "wemp");
    }

    Cleanup();
    LoadProviders();
    context_ = SSL_CTX_new(TLS_server_method());
    if (!context_)
        return -1;
    initialised_ = 1;
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // A client that drops the connection without close_notify ends the stream normally.
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);

    if (SSL_CTX_use_certificate_chain_file(context_, platform::NativePath(certificateFile).c_str()) != 1) {
        ERR_clear_error();
        return -1;
    }
    SSL_CTX_set_default_passwd_cb(context_, &CSSLContext::PasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(context_, this);
    if (SSL_CTX_use_PrivateKey_file(context_, platform::NativePath(keyFile).c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context_) != 1) {
        ERR_clear_error();
        return -1;
    }
    const std::string seed = MakeSeedText(kSeedLength);
    RAND_seed(seed.data(), static_cast<int>(seed.size()));
    return 0;
}
