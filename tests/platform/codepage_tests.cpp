// MultiByteToWideChar and WideCharToMultiByte: the calling protocol and the conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winapi.h"

namespace {

constexpr DWORD untouchedError = 0xDEADBEEF;  // last error before a call; success leaves it
constexpr int noBuffer = -100;                // bufferSize: pass a null output pointer

std::string Hex(const std::u16string& s) {
    std::string out;
    char unit[8];
    for (char16_t c : s) {
        snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

std::string Hex(const std::string& s) {
    std::string out;
    char byte[4];
    for (unsigned char c : s) {
        snprintf(byte, sizeof byte, "%02X ", c);
        out += byte;
    }
    return out;
}

// The two-call conversion every caller makes: size, then convert into exactly that size.
std::u16string ToWide(UINT codePage, const std::string& in) {
    int units =
        MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (units <= 0) return u"<sizing failed>";
    std::u16string out(units, u'\0');
    int written =
        MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), out.data(), units);
    if (written != units) return u"<conversion disagrees with sizing>";
    return out;
}

std::string ToNarrow(UINT codePage, const std::u16string& in) {
    int bytes = WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0,
                                    nullptr, nullptr);
    if (bytes <= 0) return "<sizing failed>";
    std::string out(bytes, '\0');
    int written = WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()),
                                      out.data(), bytes, nullptr, nullptr);
    if (written != bytes) return "<conversion disagrees with sizing>";
    return out;
}

struct ProtocolCase {
    const char* what;
    UINT codePage;
    DWORD flags;
    bool nullInput;
    int inputLength;
    int bufferSize;  // noBuffer: null output pointer
    int result;
    DWORD error;  // the last error after the call: untouchedError on success
};

// Both directions share the protocol; the input is "a", U+4E2D and "b" in each encoding, whose
// output is 3 units/bytes in UTF-16 and 4 bytes in code page 936, 5 in UTF-8.
const ProtocolCase multiByteCases[] = {
    {"sizing call", CP_UTF8, 0, false, 5, noBuffer, 3, untouchedError},
    {"sizing with a buffer of size 0", CP_UTF8, 0, false, 5, 0, 3, untouchedError},
    {"-1 converts and counts the NUL", CP_UTF8, 0, false, -1, noBuffer, 4, untouchedError},
    {"-1 into a buffer of exactly that size", CP_UTF8, 0, false, -1, 4, 4, untouchedError},
    {"buffer one unit too small", CP_UTF8, 0, false, -1, 3, 0, ERROR_INSUFFICIENT_BUFFER},
    {"buffer of one unit", CP_UTF8, 0, false, 5, 1, 0, ERROR_INSUFFICIENT_BUFFER},
    {"larger buffer", CP_UTF8, 0, false, 5, 10, 3, untouchedError},
    {"zero input length", CP_UTF8, 0, false, 0, 10, 0, ERROR_INVALID_PARAMETER},
    {"input length below -1", CP_UTF8, 0, false, -2, 10, 0, ERROR_INVALID_PARAMETER},
    {"negative buffer size", CP_UTF8, 0, false, 5, -1, 0, ERROR_INVALID_PARAMETER},
    {"buffer size without buffer", CP_UTF8, 0, false, 5, noBuffer - 4, 0, ERROR_INVALID_PARAMETER},
    {"null input", CP_UTF8, 0, true, 5, 10, 0, ERROR_INVALID_PARAMETER},
    {"unknown code page", 1252, 0, false, 5, 10, 0, ERROR_INVALID_PARAMETER},
    {"OEM code page", 1, 0, false, 5, 10, 0, ERROR_INVALID_PARAMETER},
    {"flag on UTF-8", CP_UTF8, 0x8, false, 5, 10, 0, ERROR_INVALID_FLAGS},
    {"flag on 936", 936, 0x1, false, 4, 10, 0, ERROR_INVALID_FLAGS},
    {"936 sizing", 936, 0, false, 4, noBuffer, 3, untouchedError},
    {"936 with -1", 936, 0, false, -1, 4, 4, untouchedError},
    {"936 too small", 936, 0, false, 4, 2, 0, ERROR_INSUFFICIENT_BUFFER},
    {"CP_ACP is 936", CP_ACP, 0, false, 4, 10, 3, untouchedError},
};

// Output size noBuffer - 4 stands for a size of 4 with a null pointer.
int BufferSize(int given) {
    return given <= noBuffer ? noBuffer - given : given;
}

TEST(MultiByteToWideChar, CallingProtocol) {
    for (const ProtocolCase& c : multiByteCases) {
        std::string input = c.codePage == CP_UTF8 ? "a\xE4\xB8\xAD"
                                                    "b"
                                                  : "a\xD6\xD0"
                                                    "b";
        std::vector<WCHAR> buffer(16, u'#');
        LPWSTR out = c.bufferSize <= noBuffer ? nullptr : buffer.data();
        SetLastError(untouchedError);
        int result = MultiByteToWideChar(c.codePage, c.flags, c.nullInput ? nullptr : input.c_str(),
                                         c.inputLength, out, BufferSize(c.bufferSize));
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        if (result == 0) {
            EXPECT_EQ(buffer, std::vector<WCHAR>(16, u'#')) << c.what << ": output untouched";
        }
        if (result > 0 && out != nullptr && c.bufferSize > 0) {
            EXPECT_EQ(std::u16string(buffer.data(), 3), u"a\u4E2Db") << c.what;
            if (result == 4) {
                EXPECT_EQ(buffer[3], 0) << c.what << ": the NUL is converted";
            }
        }
    }
}

TEST(WideCharToMultiByte, CallingProtocol) {
    const ProtocolCase cases[] = {
        {"sizing call", CP_UTF8, 0, false, 3, noBuffer, 5, untouchedError},
        {"-1 converts and counts the NUL", CP_UTF8, 0, false, -1, noBuffer, 6, untouchedError},
        {"-1 into a buffer of exactly that size", CP_UTF8, 0, false, -1, 6, 6, untouchedError},
        {"buffer one byte too small", CP_UTF8, 0, false, -1, 5, 0, ERROR_INSUFFICIENT_BUFFER},
        {"no room for a whole character", CP_UTF8, 0, false, 3, 3, 0, ERROR_INSUFFICIENT_BUFFER},
        {"zero input length", CP_UTF8, 0, false, 0, 10, 0, ERROR_INVALID_PARAMETER},
        {"input length below -1", CP_UTF8, 0, false, -5, 10, 0, ERROR_INVALID_PARAMETER},
        {"negative buffer size", CP_UTF8, 0, false, 3, -1, 0, ERROR_INVALID_PARAMETER},
        {"buffer size without buffer", CP_UTF8, 0, false, 3, noBuffer - 4, 0,
         ERROR_INVALID_PARAMETER},
        {"null input", CP_UTF8, 0, true, 3, 10, 0, ERROR_INVALID_PARAMETER},
        {"unknown code page", 54936, 0, false, 3, 10, 0, ERROR_INVALID_PARAMETER},
        {"flag on UTF-8", CP_UTF8, 0x80, false, 3, 10, 0, ERROR_INVALID_FLAGS},
        {"flag on 936", 936, 0x400, false, 3, 10, 0, ERROR_INVALID_FLAGS},
        {"936 sizing", 936, 0, false, 3, noBuffer, 4, untouchedError},
        {"936 with -1", 936, 0, false, -1, 5, 5, untouchedError},
        {"936 with no room for the trail byte", 936, 0, false, 3, 2, 0, ERROR_INSUFFICIENT_BUFFER},
        {"CP_ACP is 936", CP_ACP, 0, false, 3, 10, 4, untouchedError},
    };
    const std::u16string input = u"a\u4E2Db";
    for (const ProtocolCase& c : cases) {
        std::vector<char> buffer(16, '#');
        LPSTR out = c.bufferSize <= noBuffer ? nullptr : buffer.data();
        SetLastError(untouchedError);
        int result =
            WideCharToMultiByte(c.codePage, c.flags, c.nullInput ? nullptr : input.c_str(),
                                c.inputLength, out, BufferSize(c.bufferSize), nullptr, nullptr);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        if (result == 0) {
            EXPECT_EQ(buffer, std::vector<char>(16, '#')) << c.what << ": output untouched";
        }
        if (result > 0 && out != nullptr) {
            std::string expected = c.codePage == CP_UTF8 ? "a\xE4\xB8\xAD"
                                                           "b"
                                                         : "a\xD6\xD0"
                                                           "b";
            if (c.inputLength == -1) expected.push_back('\0');
            EXPECT_EQ(std::string(buffer.data(), result), expected) << c.what;
        }
    }
}

TEST(WideCharToMultiByte, Utf8TakesNoDefaultCharacter) {
    BOOL used = FALSE;
    char buffer[8];
    SetLastError(untouchedError);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, buffer, 8, "*", nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, buffer, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(WideCharToMultiByte, DefaultCharacterIn936) {
    struct {
        std::u16string input;
        const char* defaultChar;
        std::string expected;
        BOOL used;
    } cases[] = {
        {u"a\u4E2D", nullptr, "a\xD6\xD0", FALSE},
        {u"a\uAC00", nullptr, "a?", TRUE},
        {u"a\uAC00", "*", "a*", TRUE},
        {u"\uAC00", "\xD6\xD0", "\xD6\xD0", TRUE},
    };
    for (const auto& c : cases) {
        char buffer[8] = {};
        BOOL used = 2;
        int n = WideCharToMultiByte(936, 0, c.input.data(), static_cast<int>(c.input.size()),
                                    buffer, sizeof buffer, c.defaultChar, &used);
        EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), c.expected) << Hex(c.input);
        EXPECT_EQ(used, c.used) << Hex(c.input);
    }
}

TEST(MultiByteToWideChar, InvalidUtf8BecomesReplacementPerMaximalSubpart) {
    const struct {
        std::string input;
        std::u16string expected;
    } cases[] = {
        {"a\xE4\xB8\xAD"
         "b",
         u"a\u4E2Db"},
        {"\x80", u"\uFFFD"},                                // lone continuation byte
        {"\xBF\x80", u"\uFFFD\uFFFD"},                      // each continuation on its own
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong, C0 never valid
        {"\xC1\xBF", u"\uFFFD\uFFFD"},                      // overlong, C1 never valid
        {"\xC2", u"\uFFFD"},                                // truncated at the end
        {"\xC2\x41", u"\uFFFDA"},                           // the byte after is kept
        {"\xE4\xB8", u"\uFFFD"},                            // truncated: one replacement
        {"\xE4\xB8\x41", u"\uFFFDA"},                       // broken by ASCII
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xED\x9F\xBF", u"\uD7FF"},                        // just below the surrogates
        {"\xEF\xBF\xBD", u"\uFFFD"},                        // a real U+FFFD
        {"\xF0\x9F\x98\x80", u"\U0001F600"},                // four bytes: surrogate pair
        {"\xF0\x9F\x98", u"\uFFFD"},                        // truncated four-byte
        {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong four-byte
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},                // the last code point
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xF5\x80", u"\uFFFD\uFFFD"},
        {"\xFE\xFF", u"\uFFFD\uFFFD"},
        // Unicode's own example of maximal subparts.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
        {"abcdefgh\x80ijklmnop", u"abcdefgh\uFFFDijklmnop"},   // inside the ASCII fast path
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // a zero byte is a character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ToWide(CP_UTF8, c.input)), Hex(c.expected)) << Hex(c.input);
    }
}

TEST(WideCharToMultiByte, Utf16ToUtf8) {
    const struct {
        std::u16string input;
        std::string expected;
    } cases[] = {
        {u"a", "a"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\u4E2D", "\xE4\xB8\xAD"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {std::u16string(1, 0xD83D), "\xEF\xBF\xBD"},  // lone high surrogate at the end
        {std::u16string(1, 0xDE00), "\xEF\xBF\xBD"},  // lone low surrogate
        {std::u16string{0xD83D, u'a'},
         "\xEF\xBF\xBD"
         "a"},
        {std::u16string{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // pair in wrong order
        {std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {u"abcdefgh\u00E9ijklmnop", "abcdefgh\xC3\xA9ijklmnop"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ToNarrow(CP_UTF8, c.input)), Hex(c.expected)) << Hex(c.input);
    }
}

TEST(MultiByteToWideChar, CodePage936) {
    const struct {
        std::string input;
        std::u16string expected;
    } cases[] = {
        {"a\xD6\xD0"
         "b",
         u"a\u4E2Db"},
        {"\x80", u"\u20AC"},        // the euro sign
        {"\xFF", u"\uF8F5"},        // Windows' private-use character for 0xFF
        {"\xAA\xA1", u"\uE000"},    // first user-defined area
        {"\xFE\xFE", u"\uE4C5"},    // end of the second
        {"\xA1\x40", u"\uE4C6"},    // start of the third
        {"\xA7\xA0", u"\uE765"},    // its end
        {"\x81", u"\uFFFD"},        // lead byte at the end
        {"\x81\x22", u"\uFFFD\""},  // lead byte with a non-trail byte: that byte is kept
        {"\x81\x7F", u"\uFFFD\x7F"},
        {"\x81\xFF", u"\uFFFD\uF8F5"},
        {"\xA2\xAB", u"\uE766"},  // GBK's first gap outside the user-defined areas
        {"\xA6\xD9", u"\uE78D"},  // a gap inside GBK's symbol rows
        {"\xFE\xA0", u"\uE864"},  // the last gap
        {"\xD6\xD0\xD6", u"\u4E2D\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ToWide(936, c.input)), Hex(c.expected)) << Hex(c.input);
    }
}

TEST(WideCharToMultiByte, CodePage936) {
    const struct {
        std::u16string input;
        std::string expected;
    } cases[] = {
        {u"a\u4E2Db",
         "a\xD6\xD0"
         "b"},
        {u"\u20AC", "\x80"},
        {u"\uF8F5", "\xFF"},
        {u"\uE000", "\xAA\xA1"},
        {u"\uE765", "\xA7\xA0"},
        {u"\uE766", "\xA2\xAB"},
        {u"\uE864", "\xFE\xA0"},
        {u"\uE865", "?"},                  // past the gaps: no character
        {u"\uAC00", "?"},                  // Hangul: not in code page 936
        {u"\u0E01", "?"},                  // Thai
        {u"\U0001F600", "??"},             // each unit of a pair on its own, as on Windows
        {std::u16string(1, 0xD800), "?"},  // lone surrogate
        {std::u16string(1, 0xDFFF), "?"},
        {u"\uFFFD", "?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ToNarrow(936, c.input)), Hex(c.expected)) << Hex(c.input);
    }
}

// A non-ASCII character at every position around the 8-byte fast paths.
TEST(Conversion, FastPathBoundaries) {
    for (std::size_t length = 1; length <= 24; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            std::u16string wide(length, u'x');
            wide[at] = u'\u4E2D';
            std::string utf8(length - 1, 'x');
            utf8.insert(at, "\xE4\xB8\xAD");
            EXPECT_EQ(ToNarrow(CP_UTF8, wide), utf8) << length << " at " << at;
            EXPECT_EQ(ToWide(CP_UTF8, utf8), wide) << length << " at " << at;
        }
    }
}

// Several megabytes of mixed text through all three encodings and back.
TEST(Conversion, LargeInputRoundTrips) {
    std::u16string piece = u"Plate \u4EACA\u00B712345 \u20AC \U0001F600 \u690D\u7269; ";
    std::u16string wide;
    while (wide.size() < (1u << 20))
        wide += piece;
    std::string utf8 = ToNarrow(CP_UTF8, wide);
    EXPECT_EQ(ToWide(CP_UTF8, utf8), wide);

    std::u16string holdable = u"Plate \u4EACA\u00B712345 \u20AC \u690D\u7269; ";
    std::u16string chinese;
    while (chinese.size() < (1u << 20))
        chinese += holdable;
    std::string ansi = ToNarrow(936, chinese);
    EXPECT_EQ(ToWide(936, ansi), chinese);
}

}  // namespace
