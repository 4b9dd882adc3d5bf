#pragma once
// The cryptography behind the key dialog: an RSA key encrypted under a pass phrase, a
// self-signed site certificate and a certificate signing request, each a PEM file.
//
// The files form one set. Each Write* writes its file beside the target under a temporary
// name and only Commit gives them all their names, so a failure part way never leaves a new
// key beside an old certificate or a half-written file. After any failure every temporary
// is gone and the error names the step; a generator serves one set of files. A file that
// Commit replaces is kept beside it as NAME.bak: the old key, and any certificate bought for
// it, may still be wanted.
// Paths and texts are CP932.

#include <openssl/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CKeyGenerator {
public:
    static constexpr std::int64_t kSecondsPerDay = 86400;
    // Appended to a replaced file's name for the copy Commit keeps.
    static constexpr const char* kBackupSuffix = ".bak";

    // Who the request and the certificate are for. Validity counts seconds from now; an end
    // before the start is written as given. An empty text is left out of the subject.
    struct Subject {
        std::int64_t notBeforeSeconds = 0;
        std::int64_t notAfterSeconds = 0;
        std::string country;       // C: two letters
        std::string state;         // ST
        std::string locality;      // L
        std::string organization;  // O
        std::string unit;          // OU
        std::string commonName;    // CN: the site's host name or IP address
        std::string email;         // emailAddress: ASCII only
    };

    CKeyGenerator();
    // Removes the temporaries that Commit has not put in place.
    virtual ~CKeyGenerator();
    CKeyGenerator(const CKeyGenerator&) = delete;
    CKeyGenerator& operator=(const CKeyGenerator&) = delete;

    // Its CP932 bytes are the key's pass phrase, as the server hands them to the library.
    void SetPassPhrase(const std::string& passPhrase) { passPhrase_ = passPhrase; }

    // A new RSA key pair (2048 bits, exponent 65537). 0, or -1.
    int GenerateKey();

    // Each writes its file's temporary, creating the target's folder when missing: 0, or
    // -1 (also when no key was generated). A certificate or request names the common name
    // in a subjectAltName too, as an IP address when it is one, else as a DNS name when it
    // is ASCII; both are signed with SHA-256.
    //
    // The key as PKCS#8, encrypted with AES-256-CBC under the pass phrase; mode 0600.
    int WritePrivateKey(const std::string& path);
    int WriteRequest(const Subject& subject, const std::string& path);
    // X.509 version 3, with a random positive serial number of 159 bits; issuer = subject.
    int WriteSelfSignedCertificate(const Subject& subject, const std::string& path);

    // Renames every temporary written to its target and flushes the folders. A target
    // that exists is first copied to NAME.bak beside it, readable by its owner alone (mode
    // 0600: it may be a key), replacing an older copy. 0, or -1 with nothing replaced (a
    // target that is a folder, or one that cannot be read for its copy, is found before
    // any rename). Only a rename that the system refuses after the check could leave the
    // earlier ones done; the error then names that file.
    int Commit();

    // Why the last call failed: the OpenSSL call or file operation, the file where there is
    // one, and the library's or system's reason.
    const std::string& GetError() const { return error_; }
    // The target whose write, copy or rename failed; "" when the failure was not about a
    // file.
    const std::string& GetFailedFile() const { return failedFile_; }

    // OpenSSL's pass phrase callback (pem_password_cb) over a CKeyGenerator: copies the
    // pass phrase with its terminating zero and returns its length, or copies nothing and
    // returns 0 when that does not fit in `size` bytes.
    static int PassPhraseCallback(char* buffer, int size, int rwflag, void* generator);

private:
    struct KeyFree {
        void operator()(EVP_PKEY* key) const;
    };
    struct StagedFile {
        std::string target;  // CP932
        std::string temp;    // CP932, beside the target
        std::string owner;   // the target a failure is told against: its own, or the one it
                             // keeps a copy of
    };

    // Makes the PEM text with the key: nullptr, or the library call that failed.
    using Encoder = std::function<const char*(EVP_PKEY* key, std::string& pem)>;
    int Write(const std::string& path, unsigned mode, const Encoder& encode);
    // Writes `pem` to a new temporary for `path`, created with `mode` (the umask applies);
    // a failure is told against `owner` ("": `path`).
    int Stage(const std::string& path, const std::string& pem, unsigned mode, const std::string& owner = "");
    // Stages the copy of every target that exists, ahead of the new files.
    int StageCopiesOfReplaced();
    // Each gives -1 after keeping the reason and removing every temporary.
    int Fail(const std::string& reason, const std::string& file = "");
    int FailOpenSsl(const char* step);
    int FailFile(const char* step, const std::string& path, int err, const std::string& owner = "");
    void Discard();

    std::string passPhrase_;
    std::unique_ptr<EVP_PKEY, KeyFree> key_;
    std::vector<StagedFile> staged_;
    std::string error_;
    std::string failedFile_;
};

// The paths among `paths` where a file (or a link) is already, which Commit would keep and
// replace, each once, in their order. A folder is left out: Commit refuses it.
std::vector<std::string> ExistingFiles(const std::vector<std::string>& paths);
