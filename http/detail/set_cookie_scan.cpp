#include "http/detail/set_cookie_scan.h"

namespace detail {

namespace {
constexpr char setCookieMarker[] = "Set-Cookie:";
constexpr int setCookieMarkerLength = 11;
constexpr int deletedMarkerLength = 9;
}  // namespace

int CookieValueEnd(const Text& headers, int from) {
    const int semicolon = FindText(headers, ";", from);
    const int lineEnd = FindText(headers, "\r\n", from);
    if (lineEnd != -1 && (semicolon == -1 || lineEnd < semicolon)) return lineEnd;
    if (semicolon != -1) return semicolon;
    return TextLength(headers) + 1;
}

std::vector<Text> SetCookieTexts(const Text& headers) {
    std::vector<Text> cookies;
    int marker = FindText(headers, setCookieMarker, 1, 1);
    while (marker != -1) {
        const int start = marker + setCookieMarkerLength;
        const int end = CookieValueEnd(headers, start);
        cookies.push_back(ConcatText(TrimStart(MidText(headers, start, end - start)), ";"));
        marker = FindText(headers, setCookieMarker, end + 1, 1);
    }
    return cookies;
}

bool HasDeletedMarker(const Text& cookieText) {
    const Text tail = RightText(cookieText, deletedMarkerLength);
    return tail == Text("=deleted;") || tail == Text("=DELETED;") || tail == Text("=Deleted;");
}

}  // namespace detail
