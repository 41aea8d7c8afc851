// The service's TLS settings, made by the service itself so that a permissive system
// OpenSSL configuration cannot lower them.
#pragma once

#include <boost/asio/ssl/context.hpp>
#include <memory>
#include <string>

namespace service {

// A server context for the certificate chain and key in PEM files: TLS 1.2 at least, ECDHE
// with AES-GCM or ChaCha20-Poly1305 only (TLS 1.3's suites are all AEAD), no session
// tickets and no session cache (every connection makes a full handshake, so no ticket key
// lives long), no renegotiation. Nothing, with a message in error, when the files do not
// load.
std::unique_ptr<boost::asio::ssl::context> MakeTlsContext(const std::string& certFile,
                                                          const std::string& keyFile,
                                                          std::string& error);

}  // namespace service
