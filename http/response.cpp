// Reading the last answer: body, status and the raw header block.
#include "http/detail/set_cookie_scan.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

Text HttpSession::GetResponseRawText() {
    return BytesToText(GetResponseBody());
}

Text HttpSession::GetResponseText() {
    return Utf8ToText(GetResponseBody());
}

int HttpSession::GetStatus() {
    // Asked for as text, not as a number, like the status text.
    const auto status = http::detail::QueryHeaderText(requestHandle, WINHTTP_QUERY_STATUS_CODE);
    return status ? TextToInt(*status) : 0;
}

Text HttpSession::GetStatusText() {
    return http::detail::QueryHeaderText(requestHandle, WINHTTP_QUERY_STATUS_TEXT).value_or(Text());
}

Text HttpSession::GetAllResponseHeaders() {
    return responseHeaders;
}

Text HttpSession::GetResponseHeader(const Text& name) {
    if (responseHeaders.empty()) return Text();
    // The line end in front keeps the status line out and matches whole names only.
    const Text key = ConcatText("\r\n", name, ":");
    const int found = FindText(responseHeaders, key, 1, 1);
    if (found == -1) return Text();
    const int value = found + TextLength(key);
    const int end = FindText(responseHeaders, "\r\n", value);
    if (end == -1) return Text();
    return TrimStart(MidText(responseHeaders, value, end - value));
}

Text HttpSession::GetResponseCookies() {
    if (responseHeaders.empty()) return Text();
    Text result;
    for (const Text& cookie : http::detail::SetCookieTexts(responseHeaders)) {
        if (!http::detail::HasDeletedMarker(cookie)) result = ConcatText(result, cookie, " ");
    }
    // Without the last cookie's ";" and blank.
    return LeftText(result, TextLength(result) - 2);
}

Text HttpSession::GetResponseCookie(const Text& name) {
    if (responseHeaders.empty()) return Text();
    // The usual "Set-Cookie: name=", then the same without the blank.
    for (const char* marker : {"Set-Cookie: ", "Set-Cookie:"}) {
        const Text key = ConcatText(marker, name, "=");
        const int found = FindText(responseHeaders, key, 1, 1);
        if (found == -1) continue;
        const int value = found + TextLength(key);
        return MidText(responseHeaders, value,
                       http::detail::CookieValueEnd(responseHeaders, value) - value);
    }
    return Text();
}
