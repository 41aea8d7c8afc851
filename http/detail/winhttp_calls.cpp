#include "http/detail/winhttp_calls.h"

#include "http/detail/wide.h"

namespace http::detail {

BOOL AddHeaderLines(HINTERNET request, const Text& lines, DWORD flags) {
    const WideText wide(lines);
    return WinHttpAddRequestHeaders(request, wide.c_str(), wide.length(), flags);
}

BOOL SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof(value));
}

void GiveProxyCredentials(HINTERNET request, const Text& user, const Text& password) {
    // These two options take their length in characters, not bytes.
    WideText userWide(user);
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME, userWide.data(), userWide.length());
    WideText passwordWide(password);
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, passwordWide.data(),
                     passwordWide.length());
}

std::optional<Text> QueryHeaderText(HINTERNET request, DWORD infoLevel) {
    if (request == nullptr) return std::nullopt;
    DWORD size = 0;
    DWORD index = 0;
    WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, &index);
    if (size < 1 || size > DWORD(maxTextLength)) return std::nullopt;
    Bytes buffer = BlankBytes(static_cast<int>(size));
    index = 0;
    if (!WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             &index)) {
        return std::nullopt;
    }
    return WideToText(buffer);
}

}  // namespace http::detail
