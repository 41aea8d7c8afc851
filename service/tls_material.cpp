#include "service/tls_material.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "service/state_dir.h"

namespace service {
namespace {

// The authority outlives many server certificates.
constexpr long authorityDays = 3650;
// Short enough for clients that cap server certificate lifetimes (398 days).
constexpr long serverDays = 365;
// A certificate this close to its end is made anew at start.
constexpr long renewDays = 30;
constexpr long secondsPerDay = 86400;
// Random serial numbers of 128 bits.
constexpr int serialBytes = 16;

const char* const subjectAltNames = "IP:127.0.0.1,IP:::1,DNS:localhost";

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(FILE* p) const { std::fclose(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Free>;
using BignumPtr = std::unique_ptr<BIGNUM, Free>;
using FilePtr = std::unique_ptr<FILE, Free>;

struct Paths {
    std::string authorityCert, authorityKey, serverCert, serverKey;
};

Paths PathsIn(const std::string& dir) {
    return {dir + "/ca.pem", dir + "/ca-key.pem", dir + "/server.pem", dir + "/server-key.pem"};
}

CertPtr ReadCert(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    return CertPtr(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
}

KeyPtr ReadKey(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    return KeyPtr(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
}

// Writes through a temporary file and a rename, so that a crash never leaves half a file.
// Private keys are readable by the owner only.
bool WritePem(const std::string& path, bool secret, const std::function<int(FILE*)>& write) {
    std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, secret ? 0600 : 0644);
    if (fd < 0) return false;
    FilePtr file(::fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        return false;
    }
    bool ok = write(file.get()) == 1;
    ok = std::fflush(file.get()) == 0 && ok;
    file.reset();
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool WriteCert(const std::string& path, X509* cert) {
    return WritePem(path, false, [cert](FILE* f) { return PEM_write_X509(f, cert); });
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
    return WritePem(path, true, [key](FILE* f) {
        return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool SetRandomSerial(X509* cert) {
    unsigned char bytes[serialBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    bytes[0] &= 0x7F;  // positive
    bytes[0] |= 0x01;  // and never zero
    BignumPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert)) != nullptr;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// A certificate for key, named commonName, valid for days from now; issuer == nullptr makes
// it self-signed.
CertPtr NewCert(EVP_PKEY* key, const char* commonName, long days, X509* issuer,
                EVP_PKEY* issuerKey) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !SetRandomSerial(cert.get())) {
        return nullptr;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Recognizer"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -secondsPerDay) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * secondsPerDay) == nullptr ||
        X509_set_pubkey(cert.get(), key) != 1) {
        return nullptr;
    }
    bool ok = AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always") &&
             AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
             AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
             AddExtension(cert.get(), signer, NID_subject_alt_name, subjectAltNames);
    }
    EVP_PKEY* signingKey = issuerKey != nullptr ? issuerKey : key;
    if (!ok || X509_sign(cert.get(), signingKey, EVP_sha256()) <= 0) return nullptr;
    return cert;
}

// True when cert is still valid renewDays from now.
bool LastsLongEnough(X509* cert) {
    time_t horizon = std::time(nullptr) + renewDays * secondsPerDay;
    return X509_cmp_time(X509_get0_notAfter(cert), &horizon) > 0;
}

// Only a real authority (basicConstraints CA:TRUE) is kept: a server certificate copied over
// ca.pem would otherwise be trusted by nothing and stay broken across restarts.
bool AuthorityUsable(X509* cert, EVP_PKEY* key) {
    return cert != nullptr && key != nullptr && X509_check_ca(cert) == 1 &&
           X509_check_private_key(cert, key) == 1 && LastsLongEnough(cert);
}

// Clients reach the service by these names; a certificate without one of them is of no use.
bool CoversLoopbackNames(X509* cert) {
    return X509_check_ip_asc(cert, "127.0.0.1", 0) == 1 && X509_check_ip_asc(cert, "::1", 0) == 1 &&
           X509_check_host(cert, "localhost", 0, 0, nullptr) == 1;
}

bool ServerUsable(X509* cert, EVP_PKEY* key, X509* authority) {
    return cert != nullptr && key != nullptr && X509_check_private_key(cert, key) == 1 &&
           X509_check_issued(authority, cert) == X509_V_OK &&
           X509_verify(cert, X509_get0_pubkey(authority)) == 1 && LastsLongEnough(cert) &&
           CoversLoopbackNames(cert);
}

}  // namespace

std::optional<TlsFiles> PrepareTlsMaterial(const std::string& stateDir, std::string& error) {
    Paths paths = PathsIn(stateDir);
    // Keys others could read are not used, and not silently replaced either: the user
    // decides.
    if (!CheckPrivateFileIfPresent(paths.authorityKey, error) ||
        !CheckPrivateFileIfPresent(paths.serverKey, error)) {
        return std::nullopt;
    }

    CertPtr authority = ReadCert(paths.authorityCert);
    KeyPtr authorityKey = ReadKey(paths.authorityKey);
    bool newAuthority = false;
    if (!AuthorityUsable(authority.get(), authorityKey.get())) {
        authorityKey = NewKey();
        if (authorityKey) {
            authority = NewCert(authorityKey.get(), "Recognizer local authority", authorityDays,
                                nullptr, nullptr);
        }
        if (!authorityKey || !authority || !WriteKey(paths.authorityKey, authorityKey.get()) ||
            !WriteCert(paths.authorityCert, authority.get())) {
            error = "cannot make the certificate authority in " + stateDir;
            return std::nullopt;
        }
        newAuthority = true;
    }

    CertPtr server = newAuthority ? nullptr : ReadCert(paths.serverCert);
    KeyPtr serverKey = newAuthority ? nullptr : ReadKey(paths.serverKey);
    if (!ServerUsable(server.get(), serverKey.get(), authority.get())) {
        serverKey = NewKey();
        if (serverKey) {
            server = NewCert(serverKey.get(), "localhost", serverDays, authority.get(),
                             authorityKey.get());
        }
        if (!serverKey || !server || !WriteKey(paths.serverKey, serverKey.get()) ||
            !WriteCert(paths.serverCert, server.get())) {
            error = "cannot make the server certificate in " + stateDir;
            return std::nullopt;
        }
    }
    return TlsFiles{paths.serverCert, paths.serverKey, paths.authorityCert};
}

}  // namespace service
