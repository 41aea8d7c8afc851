// UTF-16 and UTF-8 at the edge of the layer, and finding a header by name.
#include <climits>

#include "platform/posix/kernel32.h"
#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

// UTF-16 <-> UTF-8 through kernel32's conversion (CP_UTF8): invalid input becomes U+FFFD.
std::string ToUtf8(LPCWSTR text, size_t length) {
    if (!text || length == 0 || length > size_t(INT_MAX)) return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), size, nullptr, nullptr);
    return out;
}

std::string ToUtf8(LPCWSTR text) {
    if (!text) return "";
    size_t length = 0;
    while (text[length])
        ++length;
    return ToUtf8(text, length);
}

std::u16string ToUtf16(std::string_view text) {
    if (text.empty() || text.size() > size_t(INT_MAX)) return u"";
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (size <= 0) return u"";
    std::u16string out(size_t(size), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

const Header* FindHeader(const std::vector<Header>& headers, std::string_view name) {
    for (const Header& header : headers) {
        if (EqualsIgnoringCase(header.name, name)) return &header;
    }
    return nullptr;
}

}  // namespace winhttp::detail
