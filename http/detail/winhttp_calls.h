// WinHTTP calls that several parts of the session make the same way.
#pragma once

#include <optional>

#include "platform/winapi.h"
#include "text/text.h"

namespace http::detail {

// Flags of a header line that adds or replaces, so that a caller's line wins.
inline constexpr DWORD addOrReplace = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

// Hands header lines (name:value, several joined by "\r\n") to the request in UTF-16, with their
// length in units; WinHTTP's result.
BOOL AddHeaderLines(HINTERNET request, const Text& lines, DWORD flags);

// Sets an option whose value is one 32-bit integer; WinHTTP's result.
BOOL SetDwordOption(HINTERNET handle, DWORD option, DWORD value);

// Gives the request a proxy user name and password; the results are not looked at.
void GiveProxyCredentials(HINTERNET request, const Text& user, const Text& password);

// A header value of the request's answer (raw block, status code or status text), asked for
// twice: once for its size, then into a zero-filled buffer of that size. Empty when there is no
// request, the size is below 1 or the second call fails.
std::optional<Text> QueryHeaderText(HINTERNET request, DWORD infoLevel);

}  // namespace http::detail
