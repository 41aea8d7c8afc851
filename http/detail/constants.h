// Values several parts of the session share.
#pragma once

#include <cstddef>

namespace http::detail {

// The length of a string literal without its NUL, so that no length is counted by hand.
template <std::size_t n>
constexpr int LiteralLength(const char (&)[n]) {
    return static_cast<int>(n - 1);
}

// The agent of a session opened without one, and of SetUserAgent without an argument.
inline constexpr char defaultAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)";

// First size of the receive buffer, and its growth step for bodies of unknown length.
inline constexpr int receiveBufferStep = 10240;

}  // namespace http::detail
