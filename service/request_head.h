// The limits and the strict reading of a request's head (request line and header fields),
// checked before any other work is done for the request.
#pragma once

#include <cstddef>
#include <string_view>

namespace service {

// Request line, fields and the empty line after them: far above what any client sends.
inline constexpr size_t maxHeaderBlock = 16 * 1024;
// Header fields in one request; browsers send about 20.
inline constexpr size_t maxHeaderFields = 100;
// The request target (path and query); a token and a long query fit many times.
inline constexpr size_t maxTarget = 8 * 1024;

enum class HeadVerdict {
    Ok,
    Malformed,      // 400, and the connection is closed
    TooLarge,       // 431
    TargetTooLong,  // 414
};

// Checks a complete head, from the request line up to and including the empty line, for
// what RFC 9112 forbids and a lenient parser would let through: a line end other than
// CRLF, obs-fold, blanks before the colon, Content-Length with Transfer-Encoding, a
// transfer coding other than chunked, differing Content-Lengths, a missing or repeated
// Host in HTTP/1.1; and against the limits above.
HeadVerdict CheckRequestHead(std::string_view head);

// The verdict on a head that did not end within maxHeaderBlock bytes: the target is too
// long when the request line itself is not finished, else the header is too large.
HeadVerdict OverlongHead(std::string_view start);

}  // namespace service
