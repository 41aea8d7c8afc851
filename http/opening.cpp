// Opening a request, and what Send puts on it before it goes out.
#include <array>

#include "http/detail/constants.h"
#include "http/detail/wide.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

namespace {
constexpr char httpPrefix[] = "http://";
constexpr char httpsPrefix[] = "https://";
// The longest prefix looked at.
constexpr int shortestSchemedUrl = http::detail::LiteralLength(httpsPrefix);

// Unknown CA, wrong usage, wrong name and expired dates: what the one-shot override ignores.
constexpr DWORD ignoredCertErrors =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

// The stock headers, in the order they are added; each only where the request has none yet.
constexpr std::array stockHeaders = {"Accept:*/*", "Accept-Language:zh-cn",
                                     "Cache-Control:no-cache"};
constexpr char stockContentType[] = "Content-Type:application/x-www-form-urlencoded";

// The URL with "http://" in front unless it begins with "http://" or "https://" in any case.
Text WithScheme(const Text& url) {
    if (TextLength(url) < shortestSchemedUrl) return ConcatText(httpPrefix, url);
    const Text head = ToLower(LeftText(url, shortestSchemedUrl));
    if (head == Text(httpsPrefix) ||
        LeftText(head, http::detail::LiteralLength(httpPrefix)) == Text(httpPrefix)) {
        return url;
    }
    return ConcatText(httpPrefix, url);
}

// The object to request: path and query as written, "/" for an empty path (RFC 7230, 5.3.1).
Text PathOf(const URL_COMPONENTS& parts) {
    const Text query = http::detail::TextFromWide(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (parts.dwUrlPathLength < 1) return ConcatText("/", query);
    return http::detail::TextFromWide(parts.lpszUrlPath,
                                      parts.dwUrlPathLength + parts.dwExtraInfoLength);
}
}  // namespace

bool HttpSession::Open(const Text& method, const Text& url) {
    if (sessionHandle == nullptr) return false;
    this->url = WithScheme(url);

    const http::detail::WideText urlWide(this->url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(urlWide.c_str(), urlWide.length(), 0, &parts)) return false;

    receivedLength = 0;
    contentLength = 0;
    responseHeaders = Text();
    if (requestHandle != nullptr) WinHttpCloseHandle(requestHandle);
    requestHandle = nullptr;

    // One connection per session, kept while host (byte for byte) and port stay the same.
    const Text hostText = http::detail::TextFromWide(parts.lpszHostName, parts.dwHostNameLength);
    if (connectHandle == nullptr || CompareText(hostText, host) != 0 || parts.nPort != port) {
        if (connectHandle != nullptr) WinHttpCloseHandle(connectHandle);
        const http::detail::WideText hostWide(hostText);
        connectHandle = WinHttpConnect(sessionHandle, hostWide.c_str(), parts.nPort, 0);
        if (connectHandle == nullptr) return false;
        host = hostText;
        port = parts.nPort;
    }

    const Text verb = method.empty() ? Text("GET") : ToUpper(method);
    isPost = verb == Text("POST") ? 1 : 0;
    scheme = parts.nScheme;
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    const http::detail::WideText verbWide(verb);
    const http::detail::WideText pathWide(PathOf(parts));
    requestHandle = WinHttpOpenRequest(connectHandle, verbWide.c_str(), pathWide.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    return requestHandle != nullptr;
}

void HttpSession::ApplyPendingOptions() {
    if (proxyCredentialsPending == 1) {
        http::detail::GiveProxyCredentials(requestHandle, proxyUser, proxyPassword);
        proxyCredentialsPending = 0;
        proxyUser = Text();
        proxyPassword = Text();
    }
    // With a cookie mode the session follows redirects itself, to capture each hop's cookies.
    if (redirectsDisabled == 1 || cookieMode > 0) {
        http::detail::SetDwordOption(requestHandle, WINHTTP_OPTION_DISABLE_FEATURE,
                                     WINHTTP_DISABLE_REDIRECTS);
    }
    if (ignoreCertErrorsPending == 1) {
        http::detail::SetDwordOption(requestHandle, WINHTTP_OPTION_SECURITY_FLAGS,
                                     ignoredCertErrors);
        ignoreCertErrorsPending = 0;
    }
    if (cookieMode == 0) return;
    http::detail::SetDwordOption(requestHandle, WINHTTP_OPTION_DISABLE_FEATURE,
                                 WINHTTP_DISABLE_COOKIES);
    if (cookieMode == 1) AttachCookieHeader();
    if (cookieMode == 2) AttachSystemCookieHeader();
}

void HttpSession::AddDefaultHeaders(bool hasBody) {
    for (const char* line : stockHeaders) {
        http::detail::AddHeaderLines(requestHandle, line, WINHTTP_ADDREQ_FLAG_ADD_IF_NEW);
    }
    if (isPost == 1 || hasBody) {
        http::detail::AddHeaderLines(requestHandle, stockContentType,
                                     WINHTTP_ADDREQ_FLAG_ADD_IF_NEW);
    }
}
