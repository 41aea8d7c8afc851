// libcurl's result codes as WinHTTP error codes, in one place.
#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

DWORD ErrorFromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return ERROR_SUCCESS;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_WINHTTP_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_WINHTTP_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_WINHTTP_TIMEOUT;
        case CURLE_URL_MALFORMAT:
            return ERROR_WINHTTP_INVALID_URL;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return ERROR_WINHTTP_SECURE_FAILURE;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_PROXY:
            return ERROR_WINHTTP_CONNECTION_ERROR;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_BAD_CONTENT_ENCODING:
            return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_WINHTTP_REDIRECT_FAILED;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_WRITE_ERROR:
            return ERROR_WINHTTP_OPERATION_CANCELLED;
        default:
            return ERROR_WINHTTP_INTERNAL_ERROR;
    }
}

CURLcode FromMulti(CURLMcode code) {
    switch (code) {
        case CURLM_OK:
            return CURLE_OK;
        case CURLM_OUT_OF_MEMORY:
            return CURLE_OUT_OF_MEMORY;
        case CURLM_UNKNOWN_OPTION:
            return CURLE_UNKNOWN_OPTION;
        default:
            return CURLE_FAILED_INIT;
    }
}

CURLcode FromShare(CURLSHcode code) {
    switch (code) {
        case CURLSHE_OK:
            return CURLE_OK;
        case CURLSHE_NOMEM:
            return CURLE_OUT_OF_MEMORY;
        case CURLSHE_NOT_BUILT_IN:
            return CURLE_NOT_BUILT_IN;
        default:
            return CURLE_FAILED_INIT;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace winhttp::detail
