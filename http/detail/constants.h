// Values several parts of the session share.
#pragma once

namespace detail {

// The agent of a session opened without one, and of SetUserAgent without an argument.
inline constexpr char defaultAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)";

// First size of the receive buffer, and its growth step for bodies of unknown length.
inline constexpr int receiveBufferStep = 10240;

}  // namespace detail
