// UTF-8 <-> UTF-16, written directly: both are simple, and a loop with an ASCII fast path is
// much faster than a general converter.
#include <cstring>

#include "platform/posix/kernel32/codepage.h"

namespace platform::detail {

namespace {

// Eight bytes are examined at once in the ASCII fast paths.
constexpr std::size_t wordBytes = 8;
constexpr std::uint64_t highBits = 0x8080808080808080ull;
constexpr std::uint64_t highBitsOfUnits = 0xFF80FF80FF80FF80ull;

// A lead byte's sequence length and the range its second byte must lie in (Unicode's table of
// well-formed UTF-8 byte sequences); length 0 for a byte that cannot start a sequence.
struct LeadInfo {
    std::size_t length;
    unsigned char low;
    unsigned char high;
};

LeadInfo Lead(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};  // excludes the surrogates
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {0, 0, 0};
}

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Copies whole ASCII words while they fit; returns the bytes consumed.
std::size_t WidenAsciiWords(const unsigned char* in, std::size_t n, Sink<char16_t>& sink) {
    std::size_t i = 0;
    while (n - i >= wordBytes && sink.Fits(wordBytes)) {
        std::uint64_t word;
        std::memcpy(&word, in + i, wordBytes);
        if (word & highBits) break;
        if (!sink.Counting()) {
            char16_t* to = sink.Cursor();
            for (std::size_t k = 0; k < wordBytes; ++k)
                to[k] = in[i + k];
        }
        sink.Advance(wordBytes);
        i += wordBytes;
    }
    return i;
}

// Writes one code point as one or two UTF-16 units; false when they do not fit.
bool PutCodePoint(char32_t cp, Sink<char16_t>& sink) {
    if (cp < 0x10000) {
        if (!sink.Fits(1)) return false;
        sink.Put(static_cast<char16_t>(cp));
        return true;
    }
    if (!sink.Fits(2)) return false;
    cp -= 0x10000;
    sink.Put(static_cast<char16_t>(0xD800 + (cp >> 10)));
    sink.Put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    return true;
}

// Decodes the sequence at in[0] (a non-ASCII byte); returns the bytes it takes and sets cp,
// which is U+FFFD for a maximal invalid subpart.
std::size_t DecodeSequence(const unsigned char* in, std::size_t n, char32_t& cp) {
    cp = replacementUnit;
    LeadInfo lead = Lead(in[0]);
    if (lead.length == 0) return 1;
    if (n < 2 || in[1] < lead.low || in[1] > lead.high) return 1;
    char32_t value = in[0] & (0x7F >> lead.length);
    value = (value << 6) | (in[1] & 0x3F);
    std::size_t k = 2;
    while (k < lead.length && k < n && IsContinuation(in[k])) {
        value = (value << 6) | (in[k] & 0x3F);
        ++k;
    }
    if (k == lead.length) cp = value;
    return k;
}

// Copies whole ASCII words of UTF-16 while they fit; returns the units consumed.
std::size_t NarrowAsciiWords(const char16_t* in, std::size_t n, Sink<unsigned char>& sink) {
    constexpr std::size_t unitsPerWord = wordBytes / sizeof(char16_t);
    std::size_t i = 0;
    while (n - i >= unitsPerWord && sink.Fits(unitsPerWord)) {
        std::uint64_t word;
        std::memcpy(&word, in + i, wordBytes);
        if (word & highBitsOfUnits) break;
        if (!sink.Counting()) {
            unsigned char* to = sink.Cursor();
            for (std::size_t k = 0; k < unitsPerWord; ++k)
                to[k] = static_cast<unsigned char>(in[i + k]);
        }
        sink.Advance(unitsPerWord);
        i += unitsPerWord;
    }
    return i;
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Writes one code point as UTF-8; false when it does not fit.
bool PutUtf8(char32_t cp, Sink<unsigned char>& sink) {
    if (cp < 0x80) {
        if (!sink.Fits(1)) return false;
        sink.Put(static_cast<unsigned char>(cp));
    } else if (cp < 0x800) {
        if (!sink.Fits(2)) return false;
        sink.Put(static_cast<unsigned char>(0xC0 | (cp >> 6)));
        sink.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        if (!sink.Fits(3)) return false;
        sink.Put(static_cast<unsigned char>(0xE0 | (cp >> 12)));
        sink.Put(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
        sink.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else {
        if (!sink.Fits(4)) return false;
        sink.Put(static_cast<unsigned char>(0xF0 | (cp >> 18)));
        sink.Put(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
        sink.Put(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
        sink.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    }
    return true;
}

}  // namespace

std::size_t Utf8ToUtf16(const unsigned char* in, std::size_t n, char16_t* out, std::size_t room) {
    Sink<char16_t> sink(out, room);
    std::size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            std::size_t words = WidenAsciiWords(in + i, n - i, sink);
            i += words;
            if (i == n) break;
            if (in[i] < 0x80) {
                if (!sink.Fits(1)) return noRoom;
                sink.Put(in[i++]);
                continue;
            }
        }
        char32_t cp;
        std::size_t taken = DecodeSequence(in + i, n - i, cp);
        if (!PutCodePoint(cp, sink)) return noRoom;
        i += taken;
    }
    return sink.Count();
}

std::size_t Utf16ToUtf8(const char16_t* in, std::size_t n, unsigned char* out, std::size_t room) {
    Sink<unsigned char> sink(out, room);
    std::size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            i += NarrowAsciiWords(in + i, n - i, sink);
            if (i == n) break;
        }
        char32_t cp = in[i++];
        if (IsHighSurrogate(cp) && i < n && IsLowSurrogate(in[i])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i++] - 0xDC00);
        } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
            cp = replacementUnit;
        }
        if (!PutUtf8(cp, sink)) return noRoom;
    }
    return sink.Count();
}

}  // namespace platform::detail
