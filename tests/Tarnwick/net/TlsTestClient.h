#pragma once
// The far end of a TLS test: a blocking client connection over a descriptor the test made
// (one end of a socket pair or a loopback connection). Every read and write gives up after
// a few seconds, so a server that never answers fails the test instead of hanging it.

#include <openssl/ssl.h>

#include <string>

namespace servertest {

class TlsTestClient {
public:
    // Takes ownership of the connected descriptor.
    explicit TlsTestClient(int fd);
    ~TlsTestClient();
    TlsTestClient(const TlsTestClient&) = delete;
    TlsTestClient& operator=(const TlsTestClient&) = delete;

    // The client side of the handshake; the certificate is not verified.
    bool Handshake();
    // Writes every byte; false on failure.
    bool Write(const std::string& bytes);
    // Reads until `n` bytes came, the stream ended or a read failed; returns what came.
    std::string Read(size_t n);
    // The SSL_get_error code of one read of up to one byte: SSL_ERROR_ZERO_RETURN for a
    // clean close_notify, SSL_ERROR_NONE when a byte came.
    int ReadOnceError();
    int Fd() const { return fd_; }
    // Closes the descriptor without a close_notify.
    void CloseAbruptly();

private:
    int fd_;
    SSL_CTX* context_;
    SSL* ssl_;
};

}  // namespace servertest
