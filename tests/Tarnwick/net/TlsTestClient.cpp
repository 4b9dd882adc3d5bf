#include "TlsTestClient.h"

#include <openssl/err.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace servertest {
namespace {

constexpr int kIoLimitSeconds = 5;

}  // namespace

TlsTestClient::TlsTestClient(int fd) : fd_(fd), context_(SSL_CTX_new(TLS_client_method())), ssl_(nullptr)
{
    timeval limit{kIoLimitSeconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
}

TlsTestClient::~TlsTestClient()
{
    SSL_free(ssl_);
    SSL_CTX_free(context_);
    CloseAbruptly();
    ERR_clear_error();
}

bool TlsTestClient::Handshake()
{
    const bool ok = SSL_connect(ssl_) == 1;
    ERR_clear_error();
    return ok;
}

bool TlsTestClient::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        size_t written = 0;
        if (SSL_write_ex(ssl_, bytes.data() + done, bytes.size() - done, &written) != 1) {
            ERR_clear_error();
            return false;
        }
        done += written;
    }
    return true;
}

std::string TlsTestClient::Read(size_t n)
{
    std::string bytes;
    char buffer[16384];
    while (bytes.size() < n) {
        size_t got = 0;
        const size_t want = n - bytes.size() < sizeof buffer ? n - bytes.size() : sizeof buffer;
        if (SSL_read_ex(ssl_, buffer, want, &got) != 1) {
            ERR_clear_error();
            break;
        }
        bytes.append(buffer, got);
    }
    return bytes;
}

int TlsTestClient::ReadOnceError()
{
    char byte;
    const int n = SSL_read(ssl_, &byte, 1);
    const int error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, n);
    ERR_clear_error();
    return error;
}

void TlsTestClient::CloseAbruptly()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace servertest
