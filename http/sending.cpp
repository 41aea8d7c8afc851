// Sending the request, following redirects, and reading the answer's body.
#include <cstdint>

#include "http/detail/constants.h"
#include "http/session.h"

namespace {
// Connection failures after which the same request is sent again.
constexpr DWORD retriedErrors[] = {ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_CONNECTION_ERROR};

// Redirects followed in one chain before the session stops, as a guard against loops.
constexpr int maxRedirects = 20;

// The largest first block for a declared length, and the step toward a longer one.
constexpr int knownLengthStep = 1048576;

// Bodies are held with an int length; a longer one stops being read there.
constexpr std::int64_t maxBodyLength = maxTextLength;

bool IsRetried(DWORD error) {
    for (DWORD retried : retriedErrors) {
        if (error == retried) return true;
    }
    return false;
}

bool StartsWith(const Text& t, const char* prefix) {
    const Text p(prefix);
    return LeftText(t, TextLength(p)) == p;
}

// The capacity that holds `need` bytes: by small steps when the length is unknown or exceeded,
// by 1 MiB steps toward a longer declared length, and exactly the declared length at the end.
int GrownCapacity(int need, int contentLength) {
    if (contentLength == -1 || need > contentLength) return need + http::detail::receiveBufferStep;
    if (contentLength - need > knownLengthStep) return need + knownLengthStep;
    return contentLength;
}
}  // namespace

bool HttpSession::Send(const Text& body, int keepStoredCookies, int retries) {
    // The text goes out as its bytes, without the NUL and without conversion.
    return SendBody(body.c_str(), TextLength(body), keepStoredCookies, retries);
}

bool HttpSession::SendBytes(const Bytes& body, int keepStoredCookies, int retries) {
    return SendBody(body.data(), BytesLength(body), keepStoredCookies, retries);
}

bool HttpSession::SendBody(const void* body, int length, int keepStoredCookies, int retries) {
    if (requestHandle == nullptr) return false;
    ApplyPendingOptions();
    if (defaultHeadersEnabled == 1) AddDefaultHeaders(length > 0);
    if (!SendAttempts(body, length, retries)) return false;
    ReadResponseHeaders(keepStoredCookies);
    FollowRedirect(keepStoredCookies, retries);
    return true;
}

bool HttpSession::SendAttempts(const void* body, int length, int retries) {
    LPVOID data = length > 0 ? const_cast<void*>(body) : WINHTTP_NO_REQUEST_DATA;
    const DWORD size = length > 0 ? static_cast<DWORD>(length) : 0;
    for (std::int64_t attempt = 0; attempt <= retries; ++attempt) {
        if (WinHttpSendRequest(requestHandle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size,
                               0) &&
            WinHttpReceiveResponse(requestHandle, nullptr)) {
            return true;
        }
        if (!IsRetried(GetLastError())) return false;
    }
    return false;
}

void HttpSession::FollowRedirect(int keepStoredCookies, int retries) {
    // In cookie mode 0 WinHTTP has followed redirects itself; disabled means none is followed.
    if (cookieMode == 0 || redirectsDisabled == 1) return;
    const Text location = GetRedirectLocation(1);
    if (location.empty()) {
        redirectCount = 0;
        return;
    }
    if (++redirectCount > maxRedirects) {
        redirectCount = 0;
        return;
    }
    if (Open(Text(), location)) Send(Text(), keepStoredCookies, retries);
}

Text HttpSession::GetRedirectLocation(int absolute) {
    if (responseHeaders.empty()) return Text();
    constexpr char locationMarker[] = "Location:";
    int start = FindText(responseHeaders, locationMarker, 1, 1);
    if (start == -1) return Text();
    start += http::detail::LiteralLength(locationMarker);
    const int end = FindText(responseHeaders, "\r\n", start);
    if (end == -1) return Text();
    const Text location = TrimBoth(MidText(responseHeaders, start, end - start));
    if (location.empty() || absolute != 1) return location;

    if (StartsWith(location, "/")) {
        return ConcatText(scheme == INTERNET_SCHEME_HTTPS ? "https://" : "http://", host, ":",
                          IntToText(port), location);
    }
    const Text lower = ToLower(location);
    if (StartsWith(lower, "http://") || StartsWith(lower, "https://")) return location;

    // Relative (RFC 3986, 5.2.3): behind the last "/" of the URL. A URL of scheme and host
    // alone has its root as the base, so "/" is put behind it first.
    Text base = url;
    const int authority = FindText(url, "//");
    if (authority == -1 || FindText(url, "/", authority + 2) == -1) base = ConcatText(url, "/");
    return ConcatText(LeftText(base, ReverseFindText(base, "/")), location);
}

Bytes HttpSession::GetResponseBody() {
    if (requestHandle == nullptr || contentLength == 0) return Bytes();
    if (receivedLength == 0 && !EnsureBodyRead()) return Bytes();
    return PointerToBytes(receiveBuffer, receivedLength);
}

// Reads the whole body into the receive buffer once; false when there is no buffer to read into.
bool HttpSession::EnsureBodyRead() {
    // No block when the first allocation failed: nothing can be read until Reset allocates again.
    if (receiveBuffer == nullptr) return false;
    const int firstCapacity = contentLength == -1               ? http::detail::receiveBufferStep
                              : contentLength < knownLengthStep ? contentLength
                                                                : knownLengthStep;
    if (firstCapacity < 1) return false;
    LPVOID block = HeapReAlloc(processHeap, 0, receiveBuffer, static_cast<SIZE_T>(firstCapacity));
    if (block == nullptr) return false;
    receiveBuffer = block;

    int capacity = firstCapacity;
    int total = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(requestHandle, &available) || available < 1) break;
        const std::int64_t need = static_cast<std::int64_t>(total) + available;
        if (need > maxBodyLength - knownLengthStep) break;
        if (need > capacity) {
            const int grown = GrownCapacity(static_cast<int>(need), contentLength);
            block = HeapReAlloc(processHeap, 0, receiveBuffer, static_cast<SIZE_T>(grown));
            if (block == nullptr) break;
            receiveBuffer = block;
            capacity = grown;
        }
        DWORD read = 0;
        if (!WinHttpReadData(requestHandle, static_cast<char*>(receiveBuffer) + total,
                             static_cast<DWORD>(capacity - total), &read) ||
            read < 1) {
            break;
        }
        total += static_cast<int>(read);
    }
    receivedLength = total;
    return true;
}
