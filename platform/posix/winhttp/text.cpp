// UTF-16 and UTF-8 at the edge of the layer, and header-name comparison.
#include <cctype>

#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

// Until kernel32's conversion functions are available, a strict UTF-8 codec of our own.
std::string ToUtf8(LPCWSTR text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // unpaired surrogate
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
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
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = text[i];
        int extra = lead < 0x80         ? 0
                    : (lead >> 5) == 6  ? 1
                    : (lead >> 4) == 14 ? 2
                    : (lead >> 3) == 30 ? 3
                                        : -1;
        char32_t c = extra == 0   ? lead
                     : extra == 1 ? lead & 0x1F
                     : extra == 2 ? lead & 0x0F
                                  : lead & 0x07;
        bool valid = extra >= 0 && i + extra < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            unsigned char next = text[i + k];
            valid = (next >> 6) == 2;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        i += size_t(extra) + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

const Header* FindHeader(const std::vector<Header>& headers, std::string_view name) {
    for (const Header& header : headers) {
        if (EqualsIgnoringCase(header.name, name)) return &header;
    }
    return nullptr;
}

}  // namespace winhttp::detail
