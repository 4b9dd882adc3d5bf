#include "TestCertificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace servertest {
namespace {

// The smallest key the distribution's default security level accepts for TLS.
constexpr unsigned kKeyBits = 2048;
constexpr long kValiditySeconds = 24 * 60 * 60;
// A child that writes one key file takes milliseconds; past this it is hung.
constexpr auto kChildLimit = std::chrono::seconds(10);

EVP_PKEY* MakeKey()
{
    EVP_PKEY* key = EVP_RSA_gen(kKeyBits);
    if (!key)
        throw std::runtime_error("EVP_RSA_gen failed");
    return key;
}

EVP_PKEY* ServerKey()
{
    static EVP_PKEY* const key = MakeKey();  // kept for the process: making one is slow
    return key;
}

EVP_PKEY* OtherKey()
{
    static EVP_PKEY* const key = MakeKey();
    return key;
}

bool WritePemHere(const std::string& path, EVP_PKEY* key, const EVP_CIPHER* cipher, const std::string& passPhrase)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const int ok = cipher ? PEM_write_PrivateKey(file, key, cipher,
                                                 reinterpret_cast<const unsigned char*>(passPhrase.data()),
                                                 static_cast<int>(passPhrase.size()), nullptr, nullptr)
                          : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    return std::fclose(file) == 0 && ok == 1;
}

// The form key tools that encrypt with DES-CBC write: "Proc-Type: 4,ENCRYPTED".
bool WriteTraditionalPem(const std::string& path, EVP_PKEY* key, const EVP_CIPHER* cipher,
                         const std::string& passPhrase)
{
    BIO* file = BIO_new_file(path.c_str(), "wb");
    if (!file)
        return false;
    const int ok = PEM_write_bio_PrivateKey_traditional(
        file, key, cipher, reinterpret_cast<const unsigned char*>(passPhrase.data()),
        static_cast<int>(passPhrase.size()), nullptr, nullptr);
    return BIO_free(file) == 1 && ok == 1;
}

bool WriteDesPemInChild(const std::string& path, EVP_PKEY* key, const std::string& passPhrase)
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        OSSL_PROVIDER_load(nullptr, "default");
        OSSL_PROVIDER_load(nullptr, "legacy");
        ::_exit(WriteTraditionalPem(path, key, EVP_des_cbc(), passPhrase) ? 0 : 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + kChildLimit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WritePem(const std::string& path, EVP_PKEY* key, KeyCipher cipher, const std::string& passPhrase)
{
    bool ok = false;
    switch (cipher) {
    case KeyCipher::None: ok = WritePemHere(path, key, nullptr, passPhrase); break;
    case KeyCipher::Aes256Cbc: ok = WritePemHere(path, key, EVP_aes_256_cbc(), passPhrase); break;
    case KeyCipher::DesCbc: ok = WriteDesPemInChild(path, key, passPhrase); break;
    }
    if (!ok)
        throw std::runtime_error("cannot write the key " + path);
}

}  // namespace

TestCertificate::TestCertificate()
{
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kValiditySeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), ServerKey());
    if (X509_sign(certificate.get(), ServerKey(), EVP_sha256()) <= 0)
        throw std::runtime_error("X509_sign failed");
    FILE* file = std::fopen(CertificateFile().c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + CertificateFile());
    const int ok = PEM_write_X509(file, certificate.get());
    std::fclose(file);
    if (ok != 1)
        throw std::runtime_error("PEM_write_X509 failed");
}

std::string TestCertificate::WriteKey(const std::string& name, KeyCipher cipher, const std::string& passPhrase) const
{
    const std::string path = folder_.Path() + name;
    WritePem(path, ServerKey(), cipher, passPhrase);
    return path;
}

std::string TestCertificate::WriteOtherKey(const std::string& name, KeyCipher cipher,
                                           const std::string& passPhrase) const
{
    const std::string path = folder_.Path() + name;
    WritePem(path, OtherKey(), cipher, passPhrase);
    return path;
}

const TestCertificate& SharedTestCertificate()
{
    static const TestCertificate certificate;
    return certificate;
}

std::string TestCertificate::WriteFile(const std::string& name, const std::string& contents) const
{
    const std::string path = folder_.Path() + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

}  // namespace servertest
