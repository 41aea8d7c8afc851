// Test CA and server certificates over OpenSSL's X509 API.
#include "tests/support/test_certs.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr long secondsPerDay = 24 * 60 * 60;

std::atomic<long> nextSerial{1};

std::string ToPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, size_t(length));
    BIO_free(bio);
    return pem;
}

std::string ToPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, size_t(length));
    BIO_free(bio);
    return pem;
}

bool IsIpAddress(const std::string& name) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!extension) throw std::runtime_error("test certs: bad extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

X509* NewCertificate(EVP_PKEY* key, const std::string& commonName, int fromDays, int untilDays) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), nextSerial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), long(fromDays) * secondsPerDay);
    X509_gmtime_adj(X509_getm_notAfter(cert), long(untilDays) * secondsPerDay);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

}  // namespace

TestCa::TestCa() {
    EVP_PKEY* caKey = EVP_EC_gen("P-256");
    if (!caKey) throw std::runtime_error("test certs: key generation failed");
    X509* caCert = NewCertificate(caKey, "Recognizer Test CA", -1, 365);
    X509_set_issuer_name(caCert, X509_get_subject_name(caCert));
    AddExtension(caCert, caCert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(caCert, caCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(caCert, caCert, NID_subject_key_identifier, "hash");
    X509_sign(caCert, caKey, EVP_sha256());
    key = caKey;
    cert = caCert;
    certificatePem = ToPem(caCert);
}

TestCa::~TestCa() {
    X509_free(static_cast<X509*>(cert));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key));
}

IssuedCertificate TestCa::Issue(const std::vector<std::string>& names, int fromDays,
                                int untilDays) const {
    X509* caCert = static_cast<X509*>(cert);
    EVP_PKEY* serverKey = EVP_EC_gen("P-256");
    if (!serverKey) throw std::runtime_error("test certs: key generation failed");
    X509* serverCert =
        NewCertificate(serverKey, names.empty() ? "server" : names[0], fromDays, untilDays);
    X509_set_issuer_name(serverCert, X509_get_subject_name(caCert));
    std::string alternativeNames;
    for (const std::string& name : names) {
        if (!alternativeNames.empty()) alternativeNames += ",";
        alternativeNames += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
    }
    if (!alternativeNames.empty()) {
        AddExtension(serverCert, caCert, NID_subject_alt_name, alternativeNames);
    }
    AddExtension(serverCert, caCert, NID_basic_constraints, "CA:FALSE");
    AddExtension(serverCert, caCert, NID_key_usage, "critical,digitalSignature");
    AddExtension(serverCert, caCert, NID_ext_key_usage, "serverAuth");
    AddExtension(serverCert, caCert, NID_authority_key_identifier, "keyid");
    X509_sign(serverCert, static_cast<EVP_PKEY*>(key), EVP_sha256());
    IssuedCertificate issued{ToPem(serverCert), ToPem(serverKey)};
    X509_free(serverCert);
    EVP_PKEY_free(serverKey);
    return issued;
}

bool TestCa::WriteCertificate(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << certificatePem;
    return bool(file.flush());
}

}  // namespace testsupport
