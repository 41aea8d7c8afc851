// The service's TLS certificate: its own certificate authority and a server certificate for
// the loopback names, made with OpenSSL and kept in the state directory.
#pragma once

#include <optional>
#include <string>

namespace service {

struct TlsFiles {
    std::string certFile;       // server certificate (PEM)
    std::string keyFile;        // its private key (PEM)
    std::string authorityFile;  // what clients trust (PEM)
};

// Makes the authority and the server certificate at first start (in a state directory
// PrepareStateDir accepted), reuses them later, renews the server certificate when it is
// about to expire and remakes both when ca.pem is no authority or the server certificate
// does not chain to it. Refuses key files other users can read. Gives nothing on failure and
// says why in error.
std::optional<TlsFiles> PrepareTlsMaterial(const std::string& stateDir, std::string& error);

}  // namespace service
