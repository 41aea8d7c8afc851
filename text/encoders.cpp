// Base64 through the platform's binary-to-text service, and percent-encoding.
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

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

// For each byte its escape, packed in four bytes for one store: "%XY" and a spare for stores
// that go forwards, a spare and "%XY" for stores that go backwards.
struct EscapeTable {
    std::array<std::array<char, 4>, 256> forward{};
    std::array<std::array<char, 4>, 256> backward{};
    constexpr EscapeTable() {
        constexpr char hexDigits[] = "0123456789ABCDEF";
        for (unsigned c = 0; c < 256; ++c) {
            forward[c] = {'%', hexDigits[c >> 4], hexDigits[c & 15], 0};
            backward[c] = {0, '%', hexDigits[c >> 4], hexDigits[c & 15]};
        }
    }
};
constexpr EscapeTable escapeTable;

std::size_t EncodedLength(const unsigned char* in, std::size_t n, int keepPlain) {
    if (keepPlain != 1) return n * escapeLength;
    std::size_t length = 0;
    for (std::size_t i = 0; i < n; ++i)
        length += IsPlain(in[i]) ? 1 : escapeLength;
    return length;
}

// Every byte escaped, into out (room for 3n bytes). Each four-byte store overlaps the next
// escape, which overwrites the spare; the last escape is stored with three bytes.
void EscapeAll(const unsigned char* in, std::size_t n, char* out) {
    for (std::size_t i = 0; i + 1 < n; ++i, out += escapeLength)
        std::memcpy(out, escapeTable.forward[in[i]].data(), 4);
    std::memcpy(out, escapeTable.forward[in[n - 1]].data(), escapeLength);
}

void EscapeAllButPlain(const unsigned char* in, std::size_t n, char* out) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        if (IsPlain(c)) {
            *out++ = static_cast<char>(c);
            continue;
        }
        std::memcpy(out, escapeTable.forward[c].data(), escapeLength);
        out += escapeLength;
    }
}

// The same, in place: buffer holds the n input bytes at its start and has room for the result.
// Working from the end, the escape of byte i goes to position 3i or later (3i - 1 for the spare
// of a four-byte store), so it never overwrites a byte before i, which is yet to be read.
void EscapeAllInPlace(char* buffer, std::size_t n) {
    const auto* in = reinterpret_cast<const unsigned char*>(buffer);
    for (std::size_t i = n - 1; i > 0; --i)
        std::memcpy(buffer + escapeLength * i - 1, escapeTable.backward[in[i]].data(), 4);
    std::memcpy(buffer, escapeTable.forward[in[0]].data(), escapeLength);
}

// In place as above: the escape of byte i begins at the encoded length of the bytes before it,
// which is at least i.
void EscapeAllButPlainInPlace(char* buffer, std::size_t n, std::size_t length) {
    std::size_t at = length;
    for (std::size_t i = n; i-- > 0;) {
        const unsigned char c = static_cast<unsigned char>(buffer[i]);
        if (IsPlain(c)) {
            buffer[--at] = static_cast<char>(c);
            continue;
        }
        at -= escapeLength;
        std::memcpy(buffer + at, escapeTable.forward[c].data(), escapeLength);
    }
}

// Encodes t in its own buffer, grown to the encoded length.
Text EncodeInPlace(Text&& t, int keepPlain) {
    const std::size_t n = static_cast<std::size_t>(t.size());
    if (n == 0) return Text();
    const std::size_t length =
        EncodedLength(reinterpret_cast<const unsigned char*>(t.data()), n, keepPlain);
    if (length == n) return std::move(t);                 // every byte plain
    if (length > text::detail::maxLength) return Text();  // beyond a 32-bit length
    char* buffer = Access::Resize(t, length);
    if (keepPlain == 1)
        EscapeAllButPlainInPlace(buffer, n, length);
    else
        EscapeAllInPlace(buffer, n);
    return std::move(t);
}

}  // namespace

Bytes EncodeBase64(const Bytes& b) {
    if (b.empty()) return Bytes();
    DWORD size = 0;
    if (!CryptBinaryToStringA(b.data(), static_cast<DWORD>(b.size()), base64Flags, nullptr,
                              &size) ||
        size == 0)
        return Bytes();
    if (size > text::detail::maxLength) return Bytes();  // beyond a 32-bit length
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
    if (asUtf8 == 1) return EncodeInPlace(AnsiToUtf8(t), keepPlain);
    const auto* in = reinterpret_cast<const unsigned char*>(t.data());
    const std::size_t n = static_cast<std::size_t>(t.size());
    const std::size_t length = EncodedLength(in, n, keepPlain);
    if (length > text::detail::maxLength) return Text();  // beyond a 32-bit length
    Text result = Access::MakeText(length);
    if (keepPlain == 1)
        EscapeAllButPlain(in, n, Access::Mutable(result));
    else
        EscapeAll(in, n, Access::Mutable(result));
    return result;
}

Text PercentEncode(Text&& t, int keepPlain, int asUtf8) {
    if (t.empty()) return Text();
    if (asUtf8 == 1) return EncodeInPlace(AnsiToUtf8(t), keepPlain);
    return EncodeInPlace(std::move(t), keepPlain);
}
