// CryptBinaryToStringA for Base64 (RFC 4648 alphabet and "=" padding). Table-driven: one lookup
// turns 12 bits into two characters, so three bytes take two lookups and no branches.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/posix/crypt32.h"

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char pad = '=';
// Windows breaks plain Base64 into lines of 64 characters, each ending with CR LF.
constexpr std::size_t lineChars = 64;
constexpr std::size_t lineBytes = lineChars / 4 * 3;
constexpr char lineEnd[] = {'\r', '\n'};
constexpr std::uint64_t maxSize = UINT32_MAX;  // sizes travel in a DWORD

// Every 12-bit value as its two Base64 characters.
using PairTable = std::array<std::array<char, 2>, 4096>;
constexpr PairTable MakePairs() {
    PairTable pairs{};
    for (std::size_t v = 0; v < pairs.size(); ++v)
        pairs[v] = {base64Alphabet[v >> 6], base64Alphabet[v & 63]};
    return pairs;
}
constexpr PairTable pairTable = MakePairs();

void PutPair(std::uint32_t twelveBits, char* out) {
    std::memcpy(out, pairTable[twelveBits & 0xFFF].data(), 2);
}

// The first eight bytes at in as one number, the first byte highest.
std::uint64_t LoadBigEndian(const BYTE* in) {
    std::uint64_t v;
    std::memcpy(&v, in, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// Encodes n bytes, n a multiple of 3; returns the end of the output. Six bytes at a time through
// one 8-byte load while eight bytes can be read, then three at a time.
char* EncodeGroups(const BYTE* in, std::size_t n, char* out) {
    std::size_t i = 0;
    for (; n - i >= 8; i += 6) {
        std::uint64_t v = LoadBigEndian(in + i);
        PutPair(static_cast<std::uint32_t>(v >> 52), out);
        PutPair(static_cast<std::uint32_t>(v >> 40), out + 2);
        PutPair(static_cast<std::uint32_t>(v >> 28), out + 4);
        PutPair(static_cast<std::uint32_t>(v >> 16), out + 6);
        out += 8;
    }
    for (; i < n; i += 3) {
        std::uint32_t v = in[i] << 16 | in[i + 1] << 8 | in[i + 2];
        PutPair(v >> 12, out);
        PutPair(v, out + 2);
        out += 4;
    }
    return out;
}

// Encodes the last one or two bytes with padding; returns the end of the output.
char* EncodeTail(const BYTE* in, std::size_t n, char* out) {
    std::uint32_t v = in[0] << 16 | (n == 2 ? in[1] << 8 : 0);
    std::memcpy(out, pairTable[v >> 12].data(), 2);
    out[2] = n == 2 ? base64Alphabet[(v >> 6) & 63] : pad;
    out[3] = pad;
    return out + 4;
}

char* Encode(const BYTE* in, std::size_t n, char* out) {
    std::size_t whole = n - n % 3;
    out = EncodeGroups(in, whole, out);
    return n == whole ? out : EncodeTail(in + whole, n - whole, out);
}

// Lines of 64 characters, every line (the last included) ending with CR LF.
char* EncodeLines(const BYTE* in, std::size_t n, char* out) {
    for (std::size_t done = 0; done < n; done += lineBytes) {
        out = Encode(in + done, std::min(lineBytes, n - done), out);
        std::memcpy(out, lineEnd, sizeof lineEnd);
        out += sizeof lineEnd;
    }
    return out;
}

// Characters of the encoding, terminating zero excluded.
std::uint64_t EncodedLength(std::uint64_t n, bool lineBreaks) {
    std::uint64_t chars = (n + 2) / 3 * 4;
    if (lineBreaks) chars += (chars + lineChars - 1) / lineChars * sizeof lineEnd;
    return chars;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

BOOL CryptBinaryToStringA(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPSTR pszString,
                          DWORD* pcchString) {
    if (pcchString == nullptr || (pbBinary == nullptr && cbBinary > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    bool lineBreaks = dwFlags == CRYPT_STRING_BASE64;
    if (!lineBreaks && dwFlags != (CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::uint64_t size = EncodedLength(cbBinary, lineBreaks) + 1;
    if (size > maxSize) return Fail(ERROR_INVALID_PARAMETER);
    if (pszString == nullptr) {
        *pcchString = static_cast<DWORD>(size);
        return TRUE;
    }
    if (*pcchString < size) {
        *pcchString = static_cast<DWORD>(size);
        return Fail(ERROR_MORE_DATA);
    }
    char* end = lineBreaks ? EncodeLines(pbBinary, cbBinary, pszString)
                           : Encode(pbBinary, cbBinary, pszString);
    *end = '\0';
    *pcchString = static_cast<DWORD>(end - pszString);
    return TRUE;
}
