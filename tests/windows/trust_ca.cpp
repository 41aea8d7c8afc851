// Adds a CA certificate to, or removes it from, the machine's trusted roots. Under Wine this is
// the test prefix's registry, so a test run trusts its own CA without touching the host.
//   trust-ca add|remove FILE     FILE: one certificate, PEM or DER
// Exit code 0 when done, 1 on failure, 2 on bad usage.
#include "platform/winapi.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

std::vector<BYTE> ReadWholeFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// PEM text becomes DER; anything else is taken as DER already.
std::vector<BYTE> ToDer(const std::vector<BYTE>& data) {
    std::string text(data.begin(), data.end());
    if (text.find("-----BEGIN") == std::string::npos) return data;
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

Store OpenMachineRoots() {
    return Store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                               CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
}

bool Add(const Store& roots, const Certificate& certificate) {
    return CertAddCertificateContextToStore(roots.get(), certificate.get(),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

// Found by its SHA-1 thumbprint, the key under which the store files it.
bool Remove(const Store& roots, const Certificate& certificate) {
    BYTE thumbprint[20];
    DWORD size = sizeof thumbprint;
    if (!CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID, thumbprint,
                                           &size))
        return false;
    CRYPT_HASH_BLOB hash = {size, thumbprint};
    const CERT_CONTEXT* found = CertFindCertificateInStore(roots.get(), X509_ASN_ENCODING, 0,
                                                           CERT_FIND_SHA1_HASH, &hash, nullptr);
    if (!found) return true;                       // not trusted: nothing to do
    return CertDeleteCertificateFromStore(found);  // frees found, also on failure
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust-ca add|remove FILE\n");
        return 2;
    }
    std::vector<BYTE> der = ToDer(ReadWholeFile(argv[2]));
    Certificate certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), DWORD(der.size())));
    if (!certificate) {
        std::fprintf(stderr, "trust-ca: %s holds no certificate\n", argv[2]);
        return 1;
    }
    Store roots = OpenMachineRoots();
    if (!roots) {
        std::fprintf(stderr, "trust-ca: cannot open the trusted roots (%lu)\n", GetLastError());
        return 1;
    }
    bool adding = std::strcmp(argv[1], "add") == 0;
    if (!(adding ? Add(roots, certificate) : Remove(roots, certificate))) {
        std::fprintf(stderr, "trust-ca: %s failed (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    return 0;
}
