// WinHttpCrackUrl for http and https URLs (RFC 3986 authority and path syntax).
#include <string_view>

#include "platform/posix/winhttp/internal.h"

namespace {

using winhttp::detail::Fail;

constexpr DWORD maxPort = 65535;

struct Part {
    size_t start = 0;
    size_t length = 0;
};

bool IsAsciiAlpha(WCHAR c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(WCHAR c) {
    return c >= '0' && c <= '9';
}

bool SchemeIs(std::u16string_view scheme, std::u16string_view name) {
    if (scheme.size() != name.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
        WCHAR c = scheme[i];
        if (c >= 'A' && c <= 'Z') c = WCHAR(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return true;
}

// Hands one component to the caller: a pointer into the URL when the caller gave no buffer,
// else a copy into the caller's buffer. Not asked for (length 0 and no buffer): nothing.
bool Deliver(LPCWSTR url, Part part, LPWSTR& pointer, DWORD& length) {
    if (!pointer) {
        if (length == 0) return true;
        pointer = const_cast<LPWSTR>(url + part.start);
        length = DWORD(part.length);
        return true;
    }
    if (length <= part.length) {
        length = DWORD(part.length + 1);
        return false;
    }
    for (size_t i = 0; i < part.length; ++i)
        pointer[i] = url[part.start + i];
    pointer[part.length] = 0;
    length = DWORD(part.length);
    return true;
}

}  // namespace

BOOL WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD, LPURL_COMPONENTS components) {
    if (!pwszUrl || !components || components->dwStructSize != sizeof(URL_COMPONENTS)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    size_t length = dwUrlLength;
    if (length == 0) {
        while (pwszUrl[length])
            ++length;
    }
    std::u16string_view url(pwszUrl, length);

    // scheme ":" "//"
    size_t colon = url.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 || !IsAsciiAlpha(url[0])) {
        return Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    }
    std::u16string_view scheme = url.substr(0, colon);
    INTERNET_SCHEME nScheme;
    INTERNET_PORT defaultPort;
    if (SchemeIs(scheme, u"http")) {
        nScheme = INTERNET_SCHEME_HTTP;
        defaultPort = INTERNET_DEFAULT_HTTP_PORT;
    } else if (SchemeIs(scheme, u"https")) {
        nScheme = INTERNET_SCHEME_HTTPS;
        defaultPort = INTERNET_DEFAULT_HTTPS_PORT;
    } else {
        return Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    }
    if (url.substr(colon + 1, 2) != u"//") return Fail(ERROR_WINHTTP_INVALID_URL);

    // authority: [user[:password]@]host[:port]
    size_t authorityStart = colon + 3;
    size_t authorityEnd = url.find_first_of(u"/?#", authorityStart);
    if (authorityEnd == std::u16string_view::npos) authorityEnd = length;
    std::u16string_view authority = url.substr(authorityStart, authorityEnd - authorityStart);
    Part user, password;
    size_t hostStart = authorityStart;
    size_t at = authority.rfind(u'@');
    if (at != std::u16string_view::npos) {
        size_t userColon = authority.substr(0, at).find(u':');
        user = {authorityStart, userColon == std::u16string_view::npos ? at : userColon};
        if (userColon != std::u16string_view::npos) {
            password = {authorityStart + userColon + 1, at - userColon - 1};
        }
        hostStart = authorityStart + at + 1;
    }
    Part host{hostStart, 0};
    size_t portStart = std::u16string_view::npos;
    if (hostStart < authorityEnd && url[hostStart] == u'[') {
        size_t close = url.find(u']', hostStart);
        if (close == std::u16string_view::npos || close > authorityEnd) {
            return Fail(ERROR_WINHTTP_INVALID_URL);
        }
        host.length = close + 1 - hostStart;
        if (close + 1 < authorityEnd) {
            if (url[close + 1] != u':') return Fail(ERROR_WINHTTP_INVALID_URL);
            portStart = close + 2;
        }
    } else {
        size_t portColon = url.substr(hostStart, authorityEnd - hostStart).find(u':');
        host.length = portColon == std::u16string_view::npos ? authorityEnd - hostStart : portColon;
        if (portColon != std::u16string_view::npos) portStart = hostStart + portColon + 1;
    }
    if (host.length == 0) return Fail(ERROR_WINHTTP_INVALID_URL);
    for (size_t i = host.start; i < host.start + host.length; ++i) {
        if (url[i] <= u' ' || url[i] == 0x7F) return Fail(ERROR_WINHTTP_INVALID_URL);
    }
    DWORD port = defaultPort;
    if (portStart != std::u16string_view::npos && portStart < authorityEnd) {
        port = 0;
        for (size_t i = portStart; i < authorityEnd; ++i) {
            if (!IsDigit(url[i])) return Fail(ERROR_WINHTTP_INVALID_URL);
            port = port * 10 + DWORD(url[i] - u'0');
            if (port > maxPort) return Fail(ERROR_WINHTTP_INVALID_URL);
        }
    }

    // path, then the extra information: query and fragment
    size_t extraStart = url.find_first_of(u"?#", authorityEnd);
    if (extraStart == std::u16string_view::npos) extraStart = length;
    Part path{authorityEnd, extraStart - authorityEnd};
    Part extra{extraStart, length - extraStart};
    Part schemePart{0, colon};

    URL_COMPONENTS& c = *components;
    bool fits = Deliver(pwszUrl, schemePart, c.lpszScheme, c.dwSchemeLength);
    fits = Deliver(pwszUrl, host, c.lpszHostName, c.dwHostNameLength) && fits;
    fits = Deliver(pwszUrl, user, c.lpszUserName, c.dwUserNameLength) && fits;
    fits = Deliver(pwszUrl, password, c.lpszPassword, c.dwPasswordLength) && fits;
    fits = Deliver(pwszUrl, path, c.lpszUrlPath, c.dwUrlPathLength) && fits;
    fits = Deliver(pwszUrl, extra, c.lpszExtraInfo, c.dwExtraInfoLength) && fits;
    c.nScheme = nScheme;
    c.nPort = INTERNET_PORT(port);
    if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return TRUE;
}
