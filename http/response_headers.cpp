// Taking in the answer's raw header block, its declared length and its cookies.
#include "http/detail/constants.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

namespace {
constexpr char contentLengthMarker[] = "Content-Length:";
constexpr int contentLengthMarkerLength = http::detail::LiteralLength(contentLengthMarker);

// The first "Content-Length:" anywhere in the block (any case), read as a number; -1 without.
int DeclaredLength(const Text& headers) {
    const int found = FindText(headers, contentLengthMarker, 1, 1);
    if (found == -1) return -1;
    const int value = found + contentLengthMarkerLength;
    const int end = FindText(headers, "\r\n", value);
    if (end == -1) return TextToInt(RightText(headers, TextLength(headers) - value + 1));
    return TextToInt(MidText(headers, value, end - value));
}
}  // namespace

bool HttpSession::ReadResponseHeaders(int keepStoredCookies) {
    auto block = http::detail::QueryHeaderText(requestHandle, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    if (!block) {
        contentLength = -1;
        return false;
    }
    responseHeaders = std::move(*block);
    contentLength = DeclaredLength(responseHeaders);
    if (cookieMode == 1) CaptureResponseCookies(keepStoredCookies);
    if (cookieMode == 2) StoreResponseCookiesInSystem(keepStoredCookies);
    return true;
}
