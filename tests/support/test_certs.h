// Certificates made at test time with OpenSSL: a CA and server certificates it signs.
//
//   testsupport::TestCa ca;
//   auto good = ca.Issue({"localhost", "127.0.0.1"});             // valid for 30 days
//   auto expired = ca.Issue({"localhost", "127.0.0.1"}, -30, -1); // ended yesterday
//   auto wrongHost = ca.Issue({"wrong.example"});
//   ca.WriteCertificate(path);   // a PEM file to trust, e.g. through SSL_CERT_FILE
//   testsupport::TestServer server({good.certificatePem, good.keyPem});
//
// Keys are P-256; names that parse as IP addresses become IP subject alternative names.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct IssuedCertificate {
    std::string certificatePem;
    std::string keyPem;
};

class TestCa {
  public:
    TestCa();
    ~TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    // A server certificate for `names`, valid from `fromDays` to `untilDays` relative to now.
    IssuedCertificate Issue(const std::vector<std::string>& names, int fromDays = -1,
                            int untilDays = 30) const;
    const std::string& CertificatePem() const { return certificatePem; }
    // Writes the CA certificate as PEM; false when the file cannot be written.
    bool WriteCertificate(const std::string& path) const;

  private:
    void* key = nullptr;   // EVP_PKEY
    void* cert = nullptr;  // X509
    std::string certificatePem;
};

}  // namespace testsupport
