// The certificate override: the checks a request may relax by WINHTTP_OPTION_SECURITY_FLAGS,
// through OpenSSL's verify callback on the context libcurl hands over (CURLOPT_SSL_CTX_FUNCTION,
// which exists only where libcurl is built on OpenSSL; elsewhere the option is refused and the
// request fails instead of going out with checks the caller did not ask for).
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <mutex>

#include "platform/posix/winhttp/transfer.h"

namespace winhttp::detail {

namespace {

// Certificate errors a request may ignore, by WINHTTP_OPTION_SECURITY_FLAGS, other than the
// host name (which libcurl checks apart).
constexpr DWORD chainChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                              SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                              SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

int contextTransferIndex = -1;  // SSL_CTX ex-data slot: the hop whose handshake it serves

bool Ignorable(int error, DWORD flags) {
    switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        case X509_V_ERR_INVALID_PURPOSE:
            return flags & SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        default:
            return false;
    }
}

// OpenSSL's verify callback: lets the errors the request ignores pass, so the chain's result
// is X509_V_OK unless another check failed.
int VerifyTolerating(int preverified, X509_STORE_CTX* store) {
    if (preverified) return 1;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!ssl) return 0;
    auto* t =
        static_cast<Transfer*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), contextTransferIndex));
    if (!t || !Ignorable(X509_STORE_CTX_get_error(store), t->request->securityFlags)) return 0;
    // A connection whose certificate failed a check is never used by another request; where
    // that cannot be arranged, the check fails as it would have.
    if (curl_easy_setopt(t->easy.get(), CURLOPT_FORBID_REUSE, 1L) != CURLE_OK) return 0;
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

CURLcode ToleratingContext(CURL*, void* context, void* transfer) {
    static std::once_flag once;
    std::call_once(once, [] {
        contextTransferIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    });
    auto* ctx = static_cast<SSL_CTX*>(context);
    if (contextTransferIndex < 0 || !SSL_CTX_set_ex_data(ctx, contextTransferIndex, transfer)) {
        return CURLE_SSL_CERTPROBLEM;
    }
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), VerifyTolerating);
    return CURLE_OK;
}

}  // namespace

void SetSecurity(CurlCalls& calls, CURL* easy, Transfer& t) {
    const Request& r = *t.request;
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) {
        calls.SetOption(easy, CURLOPT_CAINFO, file);
        calls.SetOption(easy, CURLOPT_CAPATH, nullptr);
    }
    DWORD flags = r.securityFlags & (chainChecks | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    if (flags == 0) return;
    if (flags & chainChecks) {
        calls.SetOption(easy, CURLOPT_SSL_CTX_FUNCTION, ToleratingContext);
        calls.SetOption(easy, CURLOPT_SSL_CTX_DATA, &t);
    }
    if (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) {
        calls.SetOption(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    // No TLS session of relaxed checks is resumed later. A connection made without the host
    // name check differs in libcurl's key and is kept apart; one that passed a chain error is
    // closed after use (VerifyTolerating).
    calls.SetOption(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
}

}  // namespace winhttp::detail
