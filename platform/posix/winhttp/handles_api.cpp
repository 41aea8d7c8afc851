// Opening and closing sessions, connections and requests; timeouts, options and credentials.
#include <mutex>

#include "platform/posix/winhttp/internal.h"

using namespace winhttp::detail;

namespace {

// WinHttpSetTimeouts accepts -1 (no limit) and anything from 0 up.
constexpr int noLimit = -1;

// libcurl's global set-up, once per process; its result for every session opened.
CURLcode GlobalInit() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

// A share handle for a session's DNS cache and TLS sessions (and cookies); null on failure.
ShareHandle MakeShare(bool withCookies) {
    ShareHandle share(curl_share_init());
    if (!share) return share;
    CurlCalls calls;
    if (withCookies) calls.SetOption(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    calls.SetOption(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    calls.SetOption(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    if (!calls.Ok()) share.reset();
    return share;
}

// Entries of WinHTTP's proxy and bypass lists are separated by semicolons or blanks.
constexpr std::string_view listSeparators = "; ";

// "host:port", "http=host:port" or a list of such; libcurl takes the first plain or http entry.
std::string ProxyServer(const std::string& list) {
    std::string server;
    ForEachEntry(list, listSeparators, [&](std::string_view entry) {
        size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            server = entry;
        } else if (EqualsIgnoringCase(entry.substr(0, equals), "http")) {
            server = entry.substr(equals + 1);
        }
        return server.empty();
    });
    return server;
}

// WinHTTP's bypass list ("a;b <local>") as libcurl's no-proxy list ("a,b").
std::string BypassList(const std::string& list) {
    std::string out;
    ForEachEntry(list, listSeparators, [&](std::string_view entry) {
        if (!out.empty()) out += ',';
        out += EqualsIgnoringCase(entry, "<local>") ? "localhost,127.0.0.1,::1" : entry;
        return true;
    });
    return out;
}

Proxy MakeProxy(DWORD accessType, const std::string& server, const std::string& bypass) {
    Proxy proxy;
    if (accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return proxy;
    proxy.server = ProxyServer(server);
    proxy.named = !proxy.server.empty();
    proxy.bypass = BypassList(bypass);
    return proxy;
}

bool ValidTimeout(int value) {
    return value >= noLimit;
}

BOOL ReadDword(LPVOID buffer, DWORD length, DWORD& value) {
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
    if (length < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    value = *static_cast<const DWORD*>(buffer);
    return TRUE;
}

BOOL SetProxyOption(const std::shared_ptr<Object>& object, LPVOID buffer, DWORD length) {
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
    if (length < sizeof(WINHTTP_PROXY_INFO)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    const auto* info = static_cast<const WINHTTP_PROXY_INFO*>(buffer);
    if (info->dwAccessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
        info->dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
        info->dwAccessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (info->dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !info->lpszProxy) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Proxy proxy =
        MakeProxy(info->dwAccessType, ToUtf8(info->lpszProxy), ToUtf8(info->lpszProxyBypass));
    if (object->kind == Kind::Session) {
        auto session = std::static_pointer_cast<Session>(object);
        std::lock_guard lock(session->mutex);
        session->proxy = proxy;
        return TRUE;
    }
    if (object->kind == Kind::Request) {
        auto request = std::static_pointer_cast<Request>(object);
        request->hasProxyOverride = true;
        request->proxyOverride = proxy;
        return TRUE;
    }
    return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
}

// The text of WINHTTP_OPTION_PROXY_USERNAME / _PASSWORD: `length` counts characters.
std::string OptionText(LPVOID buffer, DWORD length) {
    auto* text = static_cast<LPCWSTR>(buffer);
    size_t count = 0;
    while (count < length && text[count])
        ++count;
    return ToUtf8(text, count);
}

}  // namespace

HINTERNET WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                      LPCWSTR pszProxyBypassW, DWORD dwFlags) {
    if (dwFlags != 0) {  // only synchronous sessions exist here
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (CURLcode init = GlobalInit(); init != CURLE_OK) {
        SetLastError(ErrorFromCurl(init));
        return nullptr;
    }
    auto session = std::make_shared<Session>();
    session->agent = ToUtf8(pszAgentW);
    session->proxy = MakeProxy(dwAccessType, ToUtf8(pszProxyW), ToUtf8(pszProxyBypassW));
    session->cookieShare = MakeShare(true);
    session->plainShare = MakeShare(false);
    session->multi.reset(curl_multi_init());
    if (!session->cookieShare || !session->plainShare || !session->multi) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Register(session);
}

BOOL WinHttpCloseHandle(HINTERNET hInternet) {
    std::shared_ptr<Object> object = Find(hInternet);
    if (!object) return FALSE;
    if (object->kind == Kind::Request) {
        auto request = std::static_pointer_cast<Request>(object);
        std::lock_guard lock(request->connection->session->mutex);
        EndTransfer(*request);
    }
    Unregister(hInternet);
    return TRUE;
}

BOOL WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                        int nSendTimeout, int nReceiveTimeout) {
    if (!ValidTimeout(nResolveTimeout) || !ValidTimeout(nConnectTimeout) ||
        !ValidTimeout(nSendTimeout) || !ValidTimeout(nReceiveTimeout)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::shared_ptr<Object> object = Find(hInternet);
    if (!object) return FALSE;
    Timeouts timeouts{nResolveTimeout, nConnectTimeout, nSendTimeout, nReceiveTimeout};
    if (object->kind == Kind::Session) {
        auto session = std::static_pointer_cast<Session>(object);
        std::lock_guard lock(session->mutex);
        session->timeouts = timeouts;
        return TRUE;
    }
    if (object->kind == Kind::Request) {
        std::static_pointer_cast<Request>(object)->timeouts = timeouts;
        return TRUE;
    }
    return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
}

HINTERNET WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                         DWORD) {
    std::shared_ptr<Session> session = FindSession(hSession);
    if (!session) return nullptr;
    std::string host = ToUtf8(pswzServerName);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto connection = std::make_shared<Connection>();
    connection->session = session;
    connection->host = host;
    connection->port = nServerPort;
    return Register(connection);
}

HINTERNET WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                             LPCWSTR pwszVersion, LPCWSTR pwszReferrer, LPCWSTR* ppwszAcceptTypes,
                             DWORD dwFlags) {
    std::shared_ptr<Connection> connection = FindConnection(hConnect);
    if (!connection) return nullptr;
    auto request = std::make_shared<Request>();
    request->connection = connection;
    request->verb = pwszVerb && *pwszVerb ? ToUtf8(pwszVerb) : "GET";
    request->path = ToUtf8(pwszObjectName);
    if (request->path.empty() || request->path[0] != '/') request->path.insert(0, "/");
    request->secure = (dwFlags & WINHTTP_FLAG_SECURE) != 0;
    request->http10 = ToUtf8(pwszVersion) == "HTTP/1.0";
    request->port = connection->port != INTERNET_DEFAULT_PORT ? connection->port
                    : request->secure                         ? INTERNET_DEFAULT_HTTPS_PORT
                                                              : INTERNET_DEFAULT_HTTP_PORT;
    {
        std::lock_guard lock(connection->session->mutex);
        request->timeouts = connection->session->timeouts;
    }
    if (pwszReferrer && *pwszReferrer)
        request->headers.push_back({"Referer", ToUtf8(pwszReferrer)});
    if (ppwszAcceptTypes) {
        std::string accept;
        for (LPCWSTR* type = ppwszAcceptTypes; *type; ++type) {
            if (!accept.empty()) accept += ", ";
            accept += ToUtf8(*type);
        }
        if (!accept.empty()) request->headers.push_back({"Accept", accept});
    }
    return Register(request);
}

BOOL WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
    std::shared_ptr<Object> object = Find(hInternet);
    if (!object) return FALSE;
    if (dwOption == WINHTTP_OPTION_PROXY) return SetProxyOption(object, lpBuffer, dwBufferLength);
    if (dwOption != WINHTTP_OPTION_DISABLE_FEATURE && dwOption != WINHTTP_OPTION_SECURITY_FLAGS &&
        dwOption != WINHTTP_OPTION_PROXY_USERNAME && dwOption != WINHTTP_OPTION_PROXY_PASSWORD) {
        return Fail(ERROR_WINHTTP_INVALID_OPTION);
    }
    if (object->kind != Kind::Request) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    auto request = std::static_pointer_cast<Request>(object);
    DWORD value = 0;
    switch (dwOption) {
        case WINHTTP_OPTION_DISABLE_FEATURE:
            if (!ReadDword(lpBuffer, dwBufferLength, value)) return FALSE;
            request->disabledFeatures |= value;
            return TRUE;
        case WINHTTP_OPTION_SECURITY_FLAGS:
            if (!ReadDword(lpBuffer, dwBufferLength, value)) return FALSE;
            request->securityFlags = value;
            return TRUE;
        case WINHTTP_OPTION_PROXY_USERNAME:
            if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
            request->proxyCredentials.user = OptionText(lpBuffer, dwBufferLength);
            return TRUE;
        default:  // WINHTTP_OPTION_PROXY_PASSWORD
            if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
            request->proxyCredentials.password = OptionText(lpBuffer, dwBufferLength);
            return TRUE;
    }
}

BOOL WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets, DWORD AuthScheme,
                           LPCWSTR pwszUserName, LPCWSTR pwszPassword, LPVOID) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    constexpr DWORD schemes = WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NTLM |
                              WINHTTP_AUTH_SCHEME_DIGEST | WINHTTP_AUTH_SCHEME_NEGOTIATE;
    bool oneScheme = AuthScheme != 0 && (AuthScheme & (AuthScheme - 1)) == 0;
    if (!oneScheme || (AuthScheme & schemes) == 0 ||
        (AuthTargets != WINHTTP_AUTH_TARGET_SERVER && AuthTargets != WINHTTP_AUTH_TARGET_PROXY) ||
        !pwszUserName) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Credentials credentials{AuthScheme, ToUtf8(pwszUserName), ToUtf8(pwszPassword)};
    if (AuthTargets == WINHTTP_AUTH_TARGET_SERVER) {
        request->serverCredentials = credentials;
    } else {
        request->proxyCredentials = credentials;
    }
    return TRUE;
}
