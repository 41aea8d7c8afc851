// Header lines a caller puts on the current request.
#include "http/detail/constants.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

int HttpSession::SetRequestHeader(const Text& name, const Text& value, DWORD flags) {
    if (requestHandle == nullptr || name.empty()) return 0;
    // A caller's own Cookie header in mode 0 must not be joined by WinHTTP's cookies.
    if (cookieMode == 0 && ToLower(name) == Text("cookie")) {
        http::detail::SetDwordOption(requestHandle, WINHTTP_OPTION_DISABLE_FEATURE,
                                     WINHTTP_DISABLE_COOKIES);
    }
    return http::detail::AddHeaderLines(requestHandle, ConcatText(name, ":", value), flags);
}

int HttpSession::RemoveRequestHeader(const Text& name) {
    // REPLACE alone with an empty value removes the header.
    return SetRequestHeader(name, Text(), WINHTTP_ADDREQ_FLAG_REPLACE);
}

int HttpSession::SetCookieHeader(const Text& cookies) {
    if (cookieMode == 1) return MergeCookies(cookies);
    if (cookieMode == 2) return StoreCookiesInSystem(cookies) ? 1 : 0;
    if (requestHandle == nullptr) return 0;
    http::detail::SetDwordOption(requestHandle, WINHTTP_OPTION_DISABLE_FEATURE,
                                 WINHTTP_DISABLE_COOKIES);
    return SetRequestHeader("Cookie", cookies);
}

int HttpSession::SetNamedHeader(const char* name, const std::optional<Text>& value,
                                const Text& fallback) {
    return SetRequestHeader(name, value ? *value : fallback);
}

int HttpSession::SetUserAgent(const std::optional<Text>& agent) {
    return SetNamedHeader("User-Agent", agent, http::detail::defaultAgent);
}

int HttpSession::SetReferer(const std::optional<Text>& referer) {
    return SetNamedHeader("Referer", referer, url);
}

int HttpSession::SetAccept(const std::optional<Text>& accept) {
    return SetNamedHeader("Accept", accept, "*/*");
}

int HttpSession::SetAcceptLanguage(const std::optional<Text>& language) {
    return SetNamedHeader("Accept-Language", language, "zh-cn");
}

int HttpSession::SetContentType(const std::optional<Text>& contentType) {
    return SetNamedHeader("Content-Type", contentType, "application/x-www-form-urlencoded");
}

int HttpSession::SetAjaxHeader() {
    return SetRequestHeader("x-requested-with", "XMLHttpRequest");
}

int HttpSession::SetForwardedIp(const Text& ip) {
    if (requestHandle == nullptr) return 0;
    const Text block = ConcatText("X-Forwarded-For:", ip, "\r\nCLIENT_IP:", ip, "\r\nVIA:", ip,
                                  "\r\nREMOTE_ADDR:", ip);
    return http::detail::AddHeaderLines(requestHandle, block, http::detail::addOrReplace);
}
