#pragma once
// The HTTPS side's TLS context: the server certificate and its encrypted private key,
// read from the files the settings name. One per listener set, made again at every start.

#include "CriticalSection.h"

#include <string>

class CConfigAccessor;
struct ssl_ctx_st;
struct ssl_st;

class CSSLContext {
public:
    // Length of the text fed to the random generator at every Init: it only adds to the
    // system's own seed, and making it costs little next to loading a key.
    static constexpr int kSeedLength = 10240;

    CSSLContext();
    virtual ~CSSLContext();
    CSSLContext(const CSSLContext&) = delete;
    CSSLContext& operator=(const CSSLContext&) = delete;

    // Reads SSL::PrivateKey, SSL::Certificate and SSL::Password through `settings` (so
    // placeholders are expanded) and makes the context: 0, or -1 when the certificate or
    // the key cannot be loaded (missing, malformed, wrong pass phrase). A new context is
    // made whole before it replaces the one of an earlier Init, so Init may run while other
    // threads call NewConnection; a failed Init leaves no context.
    int Init(const CConfigAccessor& settings);
    std::string GetPassword() const;
    // A new library connection over the current context, or null before a successful Init
    // (or when the library fails). The caller owns it and frees it with SSL_free; it holds
    // its context, which a later Init therefore never frees underneath it. Thread-safe.
    ssl_st* NewConnection() const;
    // The current library context, or null. Owned by this object and freed by the next
    // Init: for checks only; connections come from NewConnection.
    ssl_ctx_st* GetContext() const;

    // A text of `length` bytes from 1 to 254, never zero.
    static std::string MakeSeedText(int length);
    // The pass-phrase callback: copies the pass phrase with its zero byte when it fits in
    // `size` bytes and returns its length, else 0.
    static int PasswordCallback(char* buffer, int size, int flag, void* context);

private:
    // Puts `context` (owned, may be null) in place of the current one, which it frees.
    void Replace(ssl_ctx_st* context);

    // Guards the pass phrase and the context pointer: connections are made under it, so
    // the context they are made from is alive until the library has taken its reference.
    mutable platform::CCriticalSection lock_;
    ssl_ctx_st* context_ = nullptr;
    std::string password_;
};
