// WinHTTP for the POSIX build (synchronous mode), declared as the system header does.
#pragma once

#include "platform/posix/wintypes.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using INTERNET_SCHEME = int;

constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 1;
constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 2;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr INTERNET_PORT INTERNET_DEFAULT_PORT = 0;

constexpr DWORD WINHTTP_ACCESS_TYPE_DEFAULT_PROXY = 0;
constexpr DWORD WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
constexpr DWORD WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;
#define WINHTTP_NO_PROXY_NAME nullptr
#define WINHTTP_NO_PROXY_BYPASS nullptr
#define WINHTTP_NO_REFERER nullptr
#define WINHTTP_DEFAULT_ACCEPT_TYPES nullptr
#define WINHTTP_NO_ADDITIONAL_HEADERS nullptr
#define WINHTTP_NO_REQUEST_DATA nullptr
#define WINHTTP_HEADER_NAME_BY_INDEX nullptr
#define WINHTTP_NO_OUTPUT_BUFFER nullptr
#define WINHTTP_NO_HEADER_INDEX nullptr

constexpr DWORD WINHTTP_FLAG_SECURE = 0x00800000;

constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
constexpr DWORD WINHTTP_ADDREQ_FLAG_REPLACE = 0x80000000;
constexpr DWORD WINHTTP_ADDREQ_FLAG_COALESCE = 0x40000000;

constexpr DWORD WINHTTP_OPTION_SECURITY_FLAGS = 31;
constexpr DWORD WINHTTP_OPTION_PROXY = 38;
constexpr DWORD WINHTTP_OPTION_DISABLE_FEATURE = 63;
constexpr DWORD WINHTTP_OPTION_PROXY_USERNAME = 0x1002;  // 4098
constexpr DWORD WINHTTP_OPTION_PROXY_PASSWORD = 0x1003;  // 4099
constexpr DWORD WINHTTP_DISABLE_COOKIES = 0x00000001;
constexpr DWORD WINHTTP_DISABLE_REDIRECTS = 0x00000002;

constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE = 0x00000200;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;

constexpr DWORD WINHTTP_AUTH_TARGET_SERVER = 0;
constexpr DWORD WINHTTP_AUTH_TARGET_PROXY = 1;
constexpr DWORD WINHTTP_AUTH_SCHEME_BASIC = 0x00000001;
constexpr DWORD WINHTTP_AUTH_SCHEME_NTLM = 0x00000002;
constexpr DWORD WINHTTP_AUTH_SCHEME_PASSPORT = 0x00000004;
constexpr DWORD WINHTTP_AUTH_SCHEME_DIGEST = 0x00000008;
constexpr DWORD WINHTTP_AUTH_SCHEME_NEGOTIATE = 0x00000010;

constexpr DWORD WINHTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD WINHTTP_QUERY_STATUS_TEXT = 20;
constexpr DWORD WINHTTP_QUERY_RAW_HEADERS = 21;
constexpr DWORD WINHTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD WINHTTP_QUERY_FLAG_NUMBER = 0x20000000;

constexpr DWORD ERROR_WINHTTP_TIMEOUT = 12002;
constexpr DWORD ERROR_WINHTTP_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_WINHTTP_INVALID_OPTION = 12009;
constexpr DWORD ERROR_WINHTTP_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_WINHTTP_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_WINHTTP_CONNECTION_ERROR = 12030;
constexpr DWORD ERROR_WINHTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_WINHTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_WINHTTP_INVALID_HEADER = 12153;
constexpr DWORD ERROR_WINHTTP_HEADER_ALREADY_EXISTS = 12155;
constexpr DWORD ERROR_WINHTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_WINHTTP_SECURE_FAILURE = 12175;

struct URL_COMPONENTS {
    DWORD dwStructSize;
    LPWSTR lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    LPWSTR lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    LPWSTR lpszUserName;
    DWORD dwUserNameLength;
    LPWSTR lpszPassword;
    DWORD dwPasswordLength;
    LPWSTR lpszUrlPath;
    DWORD dwUrlPathLength;
    LPWSTR lpszExtraInfo;
    DWORD dwExtraInfoLength;
};
using LPURL_COMPONENTS = URL_COMPONENTS*;

struct WINHTTP_PROXY_INFO {
    DWORD dwAccessType;
    LPWSTR lpszProxy;
    LPWSTR lpszProxyBypass;
};

HINTERNET WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                      LPCWSTR pszProxyBypassW, DWORD dwFlags);
BOOL WinHttpCloseHandle(HINTERNET hInternet);
BOOL WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                        int nSendTimeout, int nReceiveTimeout);
BOOL WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD dwFlags,
                     LPURL_COMPONENTS lpUrlComponents);
HINTERNET WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                         DWORD dwReserved);
HINTERNET WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                             LPCWSTR pwszVersion, LPCWSTR pwszReferrer,
                             LPCWSTR* ppwszAcceptTypes, DWORD dwFlags);
BOOL WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                              DWORD dwModifiers);
BOOL WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                      DWORD dwBufferLength);
BOOL WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets, DWORD AuthScheme,
                           LPCWSTR pwszUserName, LPCWSTR pwszPassword, LPVOID pAuthParams);
BOOL WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                        LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                        DWORD_PTR dwContext);
BOOL WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved);
BOOL WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName,
                         LPVOID lpBuffer, LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable);
BOOL WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                     LPDWORD lpdwNumberOfBytesRead);
