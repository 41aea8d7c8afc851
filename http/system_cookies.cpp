// Cookies kept in the system's cookie store (WinINet), filed under the current request's URL.
#include "http/detail/set_cookie_scan.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

void HttpSession::StoreResponseCookiesInSystem(int keepStoredCookies) {
    for (const Text& cookie : http::detail::SetCookieTexts(responseHeaders)) {
        const int equals = FindText(cookie, "=");
        if (equals == -1) continue;
        const Text name = LeftText(cookie, equals - 1);
        if (http::detail::HasDeletedMarker(cookie)) {
            // The system store has no removal here: the cookie is filed with an empty value.
            if (keepStoredCookies != 1) InternetSetCookieA(url.c_str(), name.c_str(), "");
            continue;
        }
        // The value without the cookie text's final ";".
        const Text value = MidText(cookie, equals + 1, TextLength(cookie) - equals - 1);
        if (keepStoredCookies == 1 && TrimStart(value).empty()) continue;
        InternetSetCookieA(url.c_str(), name.c_str(), value.c_str());
    }
}

bool HttpSession::StoreCookiesInSystem(const Text& cookies) {
    bool handedOver = false;
    for (const Text& piece : SplitText(cookies, ";")) {
        const Text pair = TrimStart(piece);
        const int equals = FindText(pair, "=");
        if (equals == -1) continue;
        const Text name = LeftText(pair, equals - 1);
        const Text value = RightText(pair, TextLength(pair) - equals);
        InternetSetCookieA(url.c_str(), name.c_str(), value.c_str());
        handedOver = true;
    }
    return handedOver;
}

bool HttpSession::AttachSystemCookieHeader() {
    DWORD size = 0;
    InternetGetCookieA(url.c_str(), "", nullptr, &size);
    if (size == 0 || size > DWORD(maxTextLength)) return false;
    Bytes buffer = BlankBytes(static_cast<int>(size));
    InternetGetCookieA(url.c_str(), "", reinterpret_cast<LPSTR>(buffer.data()), &size);
    const Text line = ConcatText("Cookie:", BytesToText(buffer));
    return http::detail::AddHeaderLines(requestHandle, line, http::detail::addOrReplace) != 0;
}
