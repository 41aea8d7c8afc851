#include "http/detail/set_cookie_scan.h"

#include "http/detail/constants.h"

namespace http::detail {

namespace {
constexpr char setCookieMarker[] = "Set-Cookie:";
constexpr int setCookieMarkerLength = LiteralLength(setCookieMarker);
// The cookie texts of a deletion end in one of these; all three have one length.
constexpr char deletedMarkers[][10] = {"=deleted;", "=DELETED;", "=Deleted;"};
constexpr int deletedMarkerLength = LiteralLength(deletedMarkers[0]);
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
    for (const char* marker : deletedMarkers) {
        if (tail == Text(marker)) return true;
    }
    return false;
}

}  // namespace http::detail
