#include "service/tls_context.h"

#include <openssl/ssl.h>

namespace service {
namespace {

// TLS 1.2: forward secrecy and authenticated encryption only.
constexpr const char* tls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
constexpr const char* tls13Suites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

}  // namespace

std::unique_ptr<boost::asio::ssl::context> MakeTlsContext(const std::string& certFile,
                                                          const std::string& keyFile,
                                                          std::string& error) {
    namespace ssl = boost::asio::ssl;
    auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
    SSL_CTX* native = context->native_handle();
    bool ok = SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION) == 1 &&
              SSL_CTX_set_cipher_list(native, tls12Ciphers) == 1 &&
              SSL_CTX_set_ciphersuites(native, tls13Suites) == 1 &&
              SSL_CTX_set_num_tickets(native, 0) == 1;
    SSL_CTX_set_options(native, SSL_OP_NO_TICKET | SSL_OP_CIPHER_SERVER_PREFERENCE |
                                    SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
    // Idle connections give their record buffers back: many open connections stay cheap.
    SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
    if (!ok) {
        error = "the TLS library refuses the service's protocol settings";
        return nullptr;
    }
    boost::system::error_code ec;
    context->use_certificate_chain_file(certFile, ec);
    if (!ec) context->use_private_key_file(keyFile, ssl::context::pem, ec);
    if (ec || SSL_CTX_check_private_key(native) != 1) {
        error = "cannot load the certificate " + certFile + " and key " + keyFile;
        return nullptr;
    }
    return context;
}

}  // namespace service
