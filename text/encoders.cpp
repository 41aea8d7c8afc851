// Base64 through the platform's binary-to-text service, and percent-encoding.
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/winapi.h"
#include "text/detail.h"
#include "text/text.h"

using text::detail::Access;

namespace {

constexpr DWORD base64Flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;  // one line, no CR LF

constexpr std::size_t escapeLength = 3;  // "%" and two hex digits

// Unreserved characters kept as they are when asked: - . 0-9 A-Z a-z.
constexpr bool IsPlain(unsigned char c) {
    return c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}

// For each byte its escape, packed as four bytes ("%XY" and a spare) for one store.
struct EscapeTable {
    std::array<std::array<char, 4>, 256> escapes{};
    constexpr EscapeTable() {
        constexpr char hexDigits[] = "0123456789ABCDEF";
        for (unsigned c = 0; c < 256; ++c)
            escapes[c] = {'%', hexDigits[c >> 4], hexDigits[c & 15], 0};
    }
};
constexpr EscapeTable escapeTable;

// Every byte escaped: the result is exactly three times as long.
void EscapeAll(const unsigned char* in, std::size_t n, char* out) {
    if (n == 0) return;
    // Four-byte stores overlap the next escape; the last escape is stored with three bytes.
    for (std::size_t i = 0; i + 1 < n; ++i, out += escapeLength)
        std::memcpy(out, escapeTable.escapes[in[i]].data(), 4);
    std::memcpy(out, escapeTable.escapes[in[n - 1]].data(), escapeLength);
}

void EscapeAllButPlain(const unsigned char* in, std::size_t n, char* out) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        if (IsPlain(c)) {
            *out++ = static_cast<char>(c);
            continue;
        }
        std::memcpy(out, escapeTable.escapes[c].data(), escapeLength);
        out += escapeLength;
    }
}

Text Encode(std::string_view bytes, int keepPlain) {
    if (bytes.empty()) return Text();
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    if (keepPlain != 1) {
        Text result = Access::MakeText(n * escapeLength);
        EscapeAll(in, n, Access::Mutable(result));
        return result;
    }
    std::size_t length = 0;
    for (std::size_t i = 0; i < n; ++i)
        length += IsPlain(in[i]) ? 1 : escapeLength;
    Text result = Access::MakeText(length);
    EscapeAllButPlain(in, n, Access::Mutable(result));
    return result;
}

}  // namespace

Bytes EncodeBase64(const Bytes& b) {
    if (b.empty()) return Bytes();
    DWORD size = 0;
    if (!CryptBinaryToStringA(b.data(), static_cast<DWORD>(b.size()), base64Flags, nullptr,
                              &size) ||
        size == 0)
        return Bytes();
    text::detail::CheckLength(size);
    // Filled whole by the service: no need to clear it first.
    Bytes buffer = Access::MakeBytes(size);
    buffer.data()[size - 1] = 0;
    DWORD written = size;
    if (!CryptBinaryToStringA(b.data(), static_cast<DWORD>(b.size()), base64Flags,
                              reinterpret_cast<LPSTR>(buffer.data()), &written))
        std::memset(buffer.data(), 0, size);  // never hand out what the service did not write
    return buffer;
}

Text PercentEncode(const Text& t, int keepPlain, int asUtf8) {
    if (t.empty()) return Text();
    if (asUtf8 == 1) return Encode(AnsiToUtf8(t).view(), keepPlain);
    return Encode(t.view(), keepPlain);
}
