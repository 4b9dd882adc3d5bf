#pragma once
// The HTTPS side's TLS context: the server certificate and its encrypted private key,
// read from the files the settings name. One per listener set, made again at every start.

#include "CriticalSection.h"

#include <string>

class CConfigAccessor;
struct ssl_ctx_st;

class CSSLContext {
public:
    // Length of the text fed to the random generator at every Init.
    static constexpr int kSeedLength = 10240;

    CSSLContext();
    virtual ~CSSLContext();
    CSSLContext(const CSSLContext&) = delete;
    CSSLContext& operator=(const CSSLContext&) = delete;

    // Reads SSL::PrivateKey, SSL::Certificate and SSL::Password through `settings` (so
    // placeholders are expanded) and makes the context: 0, or -1 when the certificate or
    // the key cannot be loaded (missing, malformed, wrong pass phrase). A context made by
    // an earlier Init is released first.
    int Init(const CConfigAccessor& settings);
    std::string GetPassword() const;
    // The library context, or null before a successful Init. Owned by this object.
    ssl_ctx_st* GetContext() const { return context_; }

    // A text of `length` bytes from 1 to 254, never zero.
    static std::string MakeSeedText(int length);
    // The pass-phrase callback: copies the pass phrase with its zero byte when it fits in
    // `size` bytes and returns its length, else 0.
    static int PasswordCallback(char* buffer, int size, int flag, void* context);

private:
    void Cleanup();

    mutable platform::CCriticalSection lock_;  // guards the pass phrase
    ssl_ctx_st* context_ = nullptr;
    int initialised_ = 0;
    std::string password_;
};
