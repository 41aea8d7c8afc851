// WinHttpCrackUrl for http and https URLs: the parts found by the shared URL parser, handed over
// as WinHTTP does (pointers into the URL, or copies into the caller's buffers).
#include <string_view>

#include "platform/posix/url.h"
#include "platform/posix/winhttp/internal.h"

namespace {

using winhttp::detail::Fail;

// Hands one component to the caller: a pointer into the URL when the caller gave no buffer,
// else a copy into the caller's buffer. Not asked for (length 0 and no buffer): nothing.
bool Deliver(LPCWSTR url, platform::posix::UrlPart part, LPWSTR& pointer, DWORD& length) {
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
    platform::posix::UrlParts parts;
    switch (platform::posix::SplitUrl(std::u16string_view(pwszUrl, length), parts)) {
        case platform::posix::UrlCheck::unknownScheme:
            return Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
        case platform::posix::UrlCheck::invalid:
            return Fail(ERROR_WINHTTP_INVALID_URL);
        case platform::posix::UrlCheck::ok:
            break;
    }

    URL_COMPONENTS& c = *components;
    bool fits = Deliver(pwszUrl, parts.scheme, c.lpszScheme, c.dwSchemeLength);
    fits = Deliver(pwszUrl, parts.host, c.lpszHostName, c.dwHostNameLength) && fits;
    fits = Deliver(pwszUrl, parts.user, c.lpszUserName, c.dwUserNameLength) && fits;
    fits = Deliver(pwszUrl, parts.password, c.lpszPassword, c.dwPasswordLength) && fits;
    fits = Deliver(pwszUrl, parts.path, c.lpszUrlPath, c.dwUrlPathLength) && fits;
    fits = Deliver(pwszUrl, parts.extra, c.lpszExtraInfo, c.dwExtraInfoLength) && fits;
    c.nScheme = parts.secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
    c.nPort = INTERNET_PORT(parts.port);
    if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return TRUE;
}
