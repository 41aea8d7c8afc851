// Fuzzing the opening of a request through the Linux WinHTTP layer, without network: random
// URLs (built from URL pieces, odd ones included) are cracked, connected and opened with random
// methods, and the handles closed again; then HttpSession::Open gets the same URL and method.
// Nothing may crash or leak; every component WinHttpCrackUrl points at lies inside the URL; an
// Open that succeeds leaves a request open.
#include <cstdint>
#include <string>

#include "http/session.h"
#include "platform/winapi.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using Wide = std::u16string;

// Pieces URLs are made of, the troublesome ones included.
const char16_t* const urlPieces[] = {
    u"http://",  u"https://",  u"HTTPS://",
    u"ftp://",   u"//",        u"/",
    u"?",        u"#",         u"@",
    u":",        u"[",         u"]",
    u"::1",      u"127.0.0.1", u"localhost",
    u"%",        u"%41",       u"%zz",
    u"80",       u"443",       u"0",
    u"65535",    u"65536",     u"99999999999",
    u"user:pw@", u"..",        u".",
    u" ",        u"\t",        u"\r\n",
    u"\u4E2D",   u"a",         u"example.test",
    u"-",        u"=",         u"&",
    u"\\",       u"\uFFFD",    u"\xD800",
    u"x",
};

Wide RandomUrl(fuzz::Input& in) {
    Wide url;
    const int pieces = in.Byte() % 16;
    for (int i = 0; i < pieces && !in.Empty(); ++i) {
        const std::uint8_t b = in.Byte();
        if (b < 200) {
            url += urlPieces[b % std::size(urlPieces)];
        } else {
            url += static_cast<char16_t>(b << 8 | in.Byte());  // any unit, surrogates included
        }
    }
    return url.substr(0, url.find(u'\0'));
}

Wide RandomMethod(fuzz::Input& in) {
    static const char16_t* const methods[] = {u"GET", u"POST", u"HEAD", u"PUT",    u"DELETE",
                                              u"get", u"",     u"G ET", u"\u4E2D", u"OPTIONS"};
    return methods[in.Byte() % std::size(methods)];
}

bool Inside(const Wide& url, LPCWSTR p, DWORD length) {
    if (length == 0) return true;
    const auto* begin = url.c_str();
    return p != nullptr && p >= begin && p + length <= begin + url.size();
}

Text Narrow(const Wide& w) {
    return WideToText(Bytes(w.data(), static_cast<int>(w.size() * sizeof(char16_t))));
}

// The session's Open on the same URL and method, in code page 936 as callers give them.
void CheckSessionOpen(HttpSession& session, const Wide& method, const Wide& url) {
    if (session.Open(Narrow(method), Narrow(url)) && session.requestHandle == nullptr)
        fuzz::Finding("Open succeeded without a request", fuzz::Shown(Narrow(url).view()));
}

void Check(HINTERNET session, HttpSession& httpSession, fuzz::Input& in) {
    const Wide method = RandomMethod(in);
    const Wide url = RandomUrl(in);
    CheckSessionOpen(httpSession, method, url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = parts.dwUserNameLength = parts.dwPasswordLength =
            static_cast<DWORD>(-1);
    const auto* urlUnits = url.c_str();
    if (!WinHttpCrackUrl(urlUnits, static_cast<DWORD>(url.size()), 0, &parts)) return;
    const std::string shown = fuzz::Shown(
        std::string_view(reinterpret_cast<const char*>(url.data()), url.size() * sizeof(char16_t)));
    if (!Inside(url, parts.lpszScheme, parts.dwSchemeLength) ||
        !Inside(url, parts.lpszHostName, parts.dwHostNameLength) ||
        !Inside(url, parts.lpszUrlPath, parts.dwUrlPathLength) ||
        !Inside(url, parts.lpszExtraInfo, parts.dwExtraInfoLength) ||
        !Inside(url, parts.lpszUserName, parts.dwUserNameLength) ||
        !Inside(url, parts.lpszPassword, parts.dwPasswordLength))
        fuzz::Finding("WinHttpCrackUrl pointed outside the URL", shown);
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        fuzz::Finding("WinHttpCrackUrl cracked a scheme other than HTTP(S)", shown);

    const Wide host(parts.lpszHostName, parts.dwHostNameLength);
    Wide path(parts.dwUrlPathLength > 0 ? parts.lpszUrlPath : u"/",
              parts.dwUrlPathLength > 0 ? parts.dwUrlPathLength : 1);
    if (parts.dwExtraInfoLength > 0) path += Wide(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    HINTERNET connect = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    if (connect == nullptr) return;  // an empty host, for instance
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request =
        WinHttpOpenRequest(connect, method.c_str(), path.c_str(), nullptr, nullptr, nullptr, flags);
    if (request != nullptr) WinHttpCloseHandle(request);
    WinHttpCloseHandle(connect);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One WinHTTP session for the whole run, as a program has.
    static HINTERNET session =
        WinHttpOpen(u"fuzz", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    static HttpSession httpSession;
    fuzz::Input in(data, size);
    while (!in.Empty())
        Check(session, httpSession, in);
    return 0;
}
