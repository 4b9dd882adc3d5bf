#include "core/KeyGenerator.h"

#include "File.h"
#include "FileIo.h"
#include "FilePath.h"
#include "FileSystem.h"
#include "TextCodec.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <set>

namespace {

// The distribution's default security level refuses shorter RSA keys for TLS.
constexpr unsigned kKeyBits = 2048;
// RFC 5280 4.1.2.2: a positive serial of at most 20 octets. With the top of 159 bits set the
// number always takes 20 octets and keeps the sign bit clear, leaving 158 random bits.
constexpr int kSerialBits = 159;
// Only the owner may read the key, or a kept copy of any file (it may be a key); the
// request and certificate are for anyone.
constexpr unsigned kKeyFileMode = 0600;
constexpr unsigned kCopyFileMode = 0600;
constexpr unsigned kPublicFileMode = 0666;
// ERR_error_string_n's longest text fits in this.
constexpr size_t kErrorTextSize = 256;

const char kNoKeyText[] = "no key has been generated";

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* object) const { Free(object); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;

void FreeExtensions(STACK_OF(X509_EXTENSION) * extensions)
{
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
}

// The library's reason for the failure just seen; its error queue is left empty.
std::string OpenSslReason()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return "no reason given";
    char text[kErrorTextSize];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// A folder itself, not a link to one: a rename cannot put a file in its place.
bool IsFolder(const platform::FileStatus& status)
{
    return !status.isLink && status.kind == platform::PathKind::Directory;
}

bool IsAscii(const std::string& text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// The helpers below give nullptr, or the library call that failed.

// What `write` puts into a memory BIO (1 for success), as text.
template <class Write>
const char* ToPem(const char* step, std::string& pem, Write write)
{
    Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
    if (!bio)
        return "BIO_new";
    if (write(bio.get()) != 1)
        return step;
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    pem.assign(data, static_cast<size_t>(size));
    return nullptr;
}

// The subject's texts in their conventional order, as UTF-8: the library picks each
// field's string type and refuses what it cannot hold (C is PrintableString,
// emailAddress IA5String).
const char* AddNameEntries(const CKeyGenerator::Subject& subject, X509_NAME* name)
{
    const struct {
        int nid;
        const std::string& text;
        const char* step;
    } fields[] = {
        {NID_countryName, subject.country, "X509_NAME_add_entry_by_NID C"},
        {NID_stateOrProvinceName, subject.state, "X509_NAME_add_entry_by_NID ST"},
        {NID_localityName, subject.locality, "X509_NAME_add_entry_by_NID L"},
        {NID_organizationName, subject.organization, "X509_NAME_add_entry_by_NID O"},
        {NID_organizationalUnitName, subject.unit, "X509_NAME_add_entry_by_NID OU"},
        {NID_commonName, subject.commonName, "X509_NAME_add_entry_by_NID CN"},
        {NID_pkcs9_emailAddress, subject.email, "X509_NAME_add_entry_by_NID emailAddress"},
    };
    for (const auto& field : fields) {
        if (field.text.empty())
            continue;
        const std::string utf8 = platform::Cp932ToUtf8(field.text);
        if (X509_NAME_add_entry_by_NID(name, field.nid, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(utf8.data()),
                                       static_cast<int>(utf8.size()), -1, 0) != 1)
            return field.step;
    }
    return nullptr;
}

// RFC 6125 6.4.4: a client that finds a subjectAltName checks the name there only, so the
// common name goes there too. A DNS name is an IA5String: a name outside ASCII gets none.
const char* AddAltName(const std::string& commonName, GENERAL_NAMES* names)
{
    if (commonName.empty())
        return nullptr;
    Owned<GENERAL_NAME, GENERAL_NAME_free> entry(GENERAL_NAME_new());
    if (!entry)
        return "GENERAL_NAME_new";
    if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(commonName.c_str())) {
        GENERAL_NAME_set0_value(entry.get(), GEN_IPADD, address);
    } else if (IsAscii(commonName)) {
        Owned<ASN1_IA5STRING, ASN1_IA5STRING_free> host(ASN1_IA5STRING_new());
        if (!host || ASN1_STRING_set(host.get(), commonName.data(), static_cast<int>(commonName.size())) != 1)
            return "ASN1_STRING_set";
        GENERAL_NAME_set0_value(entry.get(), GEN_DNS, host.release());
    } else {
        return nullptr;
    }
    if (sk_GENERAL_NAME_push(names, entry.get()) <= 0)
        return "sk_GENERAL_NAME_push";
    entry.release();
    return nullptr;
}

// The subject's name and alternative names, as both the request and the certificate carry them.
struct Identity {
    Owned<X509_NAME, X509_NAME_free> name{X509_NAME_new()};
    Owned<GENERAL_NAMES, GENERAL_NAMES_free> altNames{GENERAL_NAMES_new()};

    const char* Make(const CKeyGenerator::Subject& subject)
    {
        if (!name)
            return "X509_NAME_new";
        if (!altNames)
            return "GENERAL_NAMES_new";
        if (const char* step = AddNameEntries(subject, name.get()))
            return step;
        return AddAltName(subject.commonName, altNames.get());
    }
    bool HasAltNames() const { return sk_GENERAL_NAME_num(altNames.get()) > 0; }
};

const char* KeyPem(EVP_PKEY* key, CKeyGenerator* generator, std::string& pem)
{
    return ToPem("PEM_write_bio_PKCS8PrivateKey", pem, [&](BIO* bio) {
        return PEM_write_bio_PKCS8PrivateKey(bio, key, EVP_aes_256_cbc(), nullptr, 0,
                                             &CKeyGenerator::PassPhraseCallback, generator);
    });
}

// RFC 2986 4.1: the alternative names travel as a requested extension.
const char* AddRequestedAltNames(const Identity& identity, X509_REQ* request)
{
    STACK_OF(X509_EXTENSION)* made = nullptr;
    if (X509V3_add1_i2d(&made, NID_subject_alt_name, identity.altNames.get(), 0, X509V3_ADD_DEFAULT) != 1)
        return "X509V3_add1_i2d subjectAltName";
    const Owned<STACK_OF(X509_EXTENSION), FreeExtensions> extensions(made);
    return X509_REQ_add_extensions(request, extensions.get()) == 1 ? nullptr : "X509_REQ_add_extensions";
}

const char* RequestPem(EVP_PKEY* key, const CKeyGenerator::Subject& subject, std::string& pem)
{
    Identity identity;
    if (const char* step = identity.Make(subject))
        return step;
    Owned<X509_REQ, X509_REQ_free> request(X509_REQ_new());
    if (!request)
        return "X509_REQ_new";
    if (X509_REQ_set_version(request.get(), X509_REQ_VERSION_1) != 1)
        return "X509_REQ_set_version";
    if (X509_REQ_set_subject_name(request.get(), identity.name.get()) != 1)
        return "X509_REQ_set_subject_name";
    if (X509_REQ_set_pubkey(request.get(), key) != 1)
        return "X509_REQ_set_pubkey";
    if (identity.HasAltNames()) {
        if (const char* step = AddRequestedAltNames(identity, request.get()))
            return step;
    }
    if (X509_REQ_sign(request.get(), key, EVP_sha256()) <= 0)
        return "X509_REQ_sign";
    if (X509_REQ_verify(request.get(), key) != 1)
        return "X509_REQ_verify";
    return ToPem("PEM_write_bio_X509_REQ", pem, [&](BIO* bio) { return PEM_write_bio_X509_REQ(bio, request.get()); });
}

const char* SetRandomSerial(X509* certificate)
{
    Owned<BIGNUM, BN_free> serial(BN_new());
    if (!serial)
        return "BN_new";
    if (BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1)
        return "BN_rand";
    return BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) ? nullptr : "BN_to_ASN1_INTEGER";
}

// Now plus `seconds`, counted as whole days and the rest so that no day count is cut to
// the library's int.
bool SetTimeFromNow(ASN1_TIME* time, std::int64_t seconds)
{
    const std::int64_t days = seconds / CKeyGenerator::kSecondsPerDay;
    if (days < INT_MIN || days > INT_MAX)
        return false;
    return X509_time_adj_ex(time, static_cast<int>(days), static_cast<long>(seconds % CKeyGenerator::kSecondsPerDay),
                            nullptr) != nullptr;
}

const char* CertificatePem(EVP_PKEY* key, const CKeyGenerator::Subject& subject, std::string& pem)
{
    Identity identity;
    if (const char* step = identity.Make(subject))
        return step;
    Owned<X509, X509_free> certificate(X509_new());
    if (!certificate)
        return "X509_new";
    if (X509_set_version(certificate.get(), X509_VERSION_3) != 1)
        return "X509_set_version";
    if (const char* step = SetRandomSerial(certificate.get()))
        return step;
    if (!SetTimeFromNow(X509_getm_notBefore(certificate.get()), subject.notBeforeSeconds))
        return "X509_time_adj_ex notBefore";
    if (!SetTimeFromNow(X509_getm_notAfter(certificate.get()), subject.notAfterSeconds))
        return "X509_time_adj_ex notAfter";
    if (X509_set_subject_name(certificate.get(), identity.name.get()) != 1)
        return "X509_set_subject_name";
    if (X509_set_issuer_name(certificate.get(), identity.name.get()) != 1)
        return "X509_set_issuer_name";
    if (X509_set_pubkey(certificate.get(), key) != 1)
        return "X509_set_pubkey";
    if (identity.HasAltNames() &&
        X509_add1_ext_i2d(certificate.get(), NID_subject_alt_name, identity.altNames.get(), 0, X509V3_ADD_DEFAULT) != 1)
        return "X509_add1_ext_i2d subjectAltName";
    if (X509_sign(certificate.get(), key, EVP_sha256()) <= 0)
        return "X509_sign";
    if (X509_verify(certificate.get(), key) != 1)
        return "X509_verify";
    return ToPem("PEM_write_bio_X509", pem, [&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
}

}  // namespace

void CKeyGenerator::KeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

CKeyGenerator::CKeyGenerator() = default;

CKeyGenerator::~CKeyGenerator() { Discard(); }

int CKeyGenerator::GenerateKey()
{
    ERR_clear_error();
    key_.reset(EVP_RSA_gen(kKeyBits));
    return key_ ? 0 : FailOpenSsl("EVP_RSA_gen");
}

int CKeyGenerator::WritePrivateKey(const std::string& path)
{
    return Write(path, kKeyFileMode, [this](EVP_PKEY* key, std::string& pem) { return KeyPem(key, this, pem); });
}

int CKeyGenerator::WriteRequest(const Subject& subject, const std::string& path)
{
    return Write(path, kPublicFileMode, [&](EVP_PKEY* key, std::string& pem) { return RequestPem(key, subject, pem); });
}

int CKeyGenerator::WriteSelfSignedCertificate(const Subject& subject, const std::string& path)
{
    return Write(path, kPublicFileMode,
                 [&](EVP_PKEY* key, std::string& pem) { return CertificatePem(key, subject, pem); });
}

int CKeyGenerator::Write(const std::string& path, unsigned mode, const Encoder& encode)
{
    if (!key_)
        return Fail(kNoKeyText);
    // Only the reason of this step may be reported.
    ERR_clear_error();
    std::string pem;
    if (const char* step = encode(key_.get(), pem))
        return FailOpenSsl(step);
    return Stage(path, pem, mode);
}

int CKeyGenerator::Stage(const std::string& path, const std::string& pem, unsigned mode, const std::string& owner)
{
    // A folder that cannot be made shows as the failure to create the file in it.
    CreateDirectoryPath(GetParentDirectory(path));
    const std::string temp = path + ".tmp" + platform::UniqueTempSuffix();
    platform::CFile file;
    if (!file.Open(platform::NativePath(temp), platform::CFile::Mode::CreateNew, static_cast<int>(mode)))
        return FailFile("cannot create", path, errno, owner);
    staged_.push_back({path, temp, owner.empty() ? path : owner});
    if (!file.Write(pem.data(), static_cast<std::int64_t>(pem.size())) || !file.Sync() || !file.Close())
        return FailFile("cannot write", path, errno, owner);
    return 0;
}

int CKeyGenerator::StageCopiesOfReplaced()
{
    const size_t count = staged_.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string target = staged_[i].target;
        std::string old, reason;
        const platform::FileReadResult read = platform::ReadWholeFile(target, old, reason);
        if (read == platform::FileReadResult::Missing)
            continue;
        if (read == platform::FileReadResult::Failed)
            return Fail("cannot keep a copy: " + reason, target);
        if (Stage(target + kBackupSuffix, old, kCopyFileMode, target) != 0)
            return -1;
    }
    // The copies are in place before anything is replaced.
    std::rotate(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(count), staged_.end());
    return 0;
}

int CKeyGenerator::Commit()
{
    // A folder in a target's place would refuse its rename after the others were done.
    for (const StagedFile& file : staged_) {
        platform::FileStatus status;
        if (platform::GetFileStatus(file.target, status) && IsFolder(status))
            return FailFile("cannot replace", file.target, EISDIR);
    }
    if (StageCopiesOfReplaced() != 0)
        return -1;
    std::set<std::string> folders;
    while (!staged_.empty()) {
        const StagedFile& file = staged_.front();
        if (!platform::MoveFile(file.temp, file.target, true))
            return FailFile("cannot replace", file.target, errno, file.owner);
        folders.insert(GetParentDirectory(file.target));
        staged_.erase(staged_.begin());
    }
    // Make the renames themselves durable.
    for (const std::string& folder : folders) {
        platform::CFile opened;
        if (opened.Open(platform::NativePath(folder.empty() ? "." : folder), platform::CFile::Mode::Read))
            opened.Sync();
    }
    return 0;
}

int CKeyGenerator::PassPhraseCallback(char* buffer, int size, int, void* generator)
{
    const std::string& passPhrase = static_cast<CKeyGenerator*>(generator)->passPhrase_;
    if (size < 0 || passPhrase.size() + 1 > static_cast<size_t>(size))
        return 0;
    std::memcpy(buffer, passPhrase.c_str(), passPhrase.size() + 1);
    return static_cast<int>(passPhrase.size());
}

int CKeyGenerator::Fail(const std::string& reason, const std::string& file)
{
    error_ = reason;
    failedFile_ = file;
    Discard();
    return -1;
}

int CKeyGenerator::FailOpenSsl(const char* step) { return Fail(std::string(step) + ": " + OpenSslReason()); }

int CKeyGenerator::FailFile(const char* step, const std::string& path, int err, const std::string& owner)
{
    return Fail(std::string(step) + " " + path + ": " + std::strerror(err), owner.empty() ? path : owner);
}

std::vector<std::string> ExistingFiles(const std::vector<std::string>& paths)
{
    std::vector<std::string> existing;
    for (const std::string& path : paths) {
        platform::FileStatus status;
        if (platform::GetFileStatus(path, status) && !IsFolder(status) &&
            std::find(existing.begin(), existing.end(), path) == existing.end())
            existing.push_back(path);
    }
    return existing;
}

void CKeyGenerator::Discard()
{
    for (const StagedFile& file : staged_)
        platform::DeleteFile(file.temp);
    staged_.clear();
}
