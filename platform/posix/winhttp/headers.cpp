// Request headers (WinHttpAddRequestHeaders) and the answer's headers (WinHttpQueryHeaders).
#include <cstring>

#include "platform/posix/winhttp/internal.h"

using namespace winhttp::detail;

namespace {

constexpr DWORD wholeString = DWORD(-1);  // header length meaning "up to the NUL"
constexpr DWORD infoLevelMask = 0x0000FFFF;
constexpr DWORD modifierMask = 0xFFFF0000;

// One "Name: value" line into the request's list, by the ADD / ADD_IF_NEW / REPLACE rules.
BOOL ApplyHeaderLine(std::vector<Header>& headers, const std::string& line, DWORD flags) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
    Header header{Trim(line.substr(0, colon)), Trim(line.substr(colon + 1))};
    if (header.name.empty()) return Fail(ERROR_INVALID_PARAMETER);
    auto found = headers.begin();
    while (found != headers.end() && !EqualsIgnoringCase(found->name, header.name))
        ++found;
    bool exists = found != headers.end();

    if (flags & WINHTTP_ADDREQ_FLAG_ADD_IF_NEW) {
        if (exists) return Fail(ERROR_WINHTTP_HEADER_ALREADY_EXISTS);
        headers.push_back(header);
        return TRUE;
    }
    if (flags & WINHTTP_ADDREQ_FLAG_REPLACE) {
        if (!exists && !(flags & WINHTTP_ADDREQ_FLAG_ADD)) {
            return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
        }
        if (!exists) {
            if (!header.value.empty()) headers.push_back(header);
            return TRUE;
        }
        if (header.value.empty()) {
            headers.erase(found);
            return TRUE;
        }
        found->value = header.value;
        return TRUE;
    }
    if ((flags & WINHTTP_ADDREQ_FLAG_COALESCE) && exists) {
        found->value += ", " + header.value;
        return TRUE;
    }
    headers.push_back(header);
    return TRUE;
}

// The status line's parts: "HTTP/1.1 200 OK" gives 200 and "OK".
std::string StatusLine(const std::string& raw) {
    return raw.substr(0, raw.find("\r\n"));
}

std::string StatusCode(const std::string& raw) {
    std::string line = StatusLine(raw);
    size_t space = line.find(' ');
    if (space == std::string::npos) return "";
    size_t end = line.find(' ', space + 1);
    return line.substr(space + 1, end == std::string::npos ? std::string::npos : end - space - 1);
}

std::string StatusText(const std::string& raw) {
    std::string line = StatusLine(raw);
    size_t space = line.find(' ');
    if (space == std::string::npos) return "";
    size_t second = line.find(' ', space + 1);
    return second == std::string::npos ? "" : line.substr(second + 1);
}

// WINHTTP_QUERY_RAW_HEADERS: the lines separated by NUL, ending in an empty line.
std::u16string NulSeparated(const std::string& raw) {
    std::u16string out = ToUtf16(raw);
    std::u16string result;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find(u"\r\n", start);
        if (end == std::u16string::npos) end = out.size();
        if (end == start) break;
        result += out.substr(start, end - start);
        result += u'\0';
        start = end + 2;
    }
    return result;
}

// Copies `value` and a terminating zero if the buffer has room, by the sizing protocol.
BOOL CopyOut(const std::u16string& value, LPVOID buffer, LPDWORD length) {
    DWORD needed = DWORD((value.size() + 1) * sizeof(WCHAR));
    if (!buffer || *length < needed) {
        *length = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, value.data(), value.size() * sizeof(WCHAR));
    static_cast<WCHAR*>(buffer)[value.size()] = 0;
    *length = DWORD(value.size() * sizeof(WCHAR));
    return TRUE;
}

}  // namespace

BOOL WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                              DWORD dwModifiers) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    if (!lpszHeaders) return Fail(ERROR_INVALID_PARAMETER);
    std::string text =
        dwHeadersLength == wholeString ? ToUtf8(lpszHeaders) : ToUtf8(lpszHeaders, dwHeadersLength);
    size_t start = 0;
    bool any = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!ApplyHeaderLine(request->headers, line, dwModifiers)) return FALSE;
        any = true;
    }
    if (!any) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

BOOL WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR, LPVOID lpBuffer,
                         LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    if (!lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
    if (!request->answered) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (lpdwIndex && *lpdwIndex != 0) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    const std::string& raw = request->rawHeaders;
    DWORD level = dwInfoLevel & infoLevelMask;
    DWORD modifiers = dwInfoLevel & modifierMask;
    if (modifiers == WINHTTP_QUERY_FLAG_NUMBER) {
        if (level != WINHTTP_QUERY_STATUS_CODE) return Fail(ERROR_INVALID_PARAMETER);
        if (!lpBuffer || *lpdwBufferLength < sizeof(DWORD)) {
            *lpdwBufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        *static_cast<DWORD*>(lpBuffer) = DWORD(std::strtoul(StatusCode(raw).c_str(), nullptr, 10));
        *lpdwBufferLength = sizeof(DWORD);
        return TRUE;
    }
    if (modifiers != 0) return Fail(ERROR_INVALID_PARAMETER);
    switch (level) {
        case WINHTTP_QUERY_RAW_HEADERS_CRLF:
            return CopyOut(ToUtf16(raw), lpBuffer, lpdwBufferLength);
        case WINHTTP_QUERY_RAW_HEADERS:
            return CopyOut(NulSeparated(raw), lpBuffer, lpdwBufferLength);
        case WINHTTP_QUERY_STATUS_CODE:
            return CopyOut(ToUtf16(StatusCode(raw)), lpBuffer, lpdwBufferLength);
        case WINHTTP_QUERY_STATUS_TEXT:
            return CopyOut(ToUtf16(StatusText(raw)), lpBuffer, lpdwBufferLength);
        default:
            return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    }
}
