// Conversions between code page 936, UTF-8 and UTF-16, with their out-parameters.
#include <gtest/gtest.h>

#include "printers.h"
#include "text/text.h"

namespace {
constexpr int untouched = 12345;  // an out-parameter's value before the call
}

TEST(TextToWide, TerminatedUnitsAndCharCount) {
    struct {
        Text t;
        int codePage;
        Bytes expected;
        int charCount;
    } cases[] = {
        {"ab", textCodePage, B("a\0b\0\0\0"), 2},
        {"\xD6\xD0", textCodePage, B("\x2D\x4E\0\0"), 1},
        {"a\xD6\xD0z", textCodePage, B("a\0\x2D\x4Ez\0\0\0"), 3},
        {"\xA2\xAB", textCodePage, B("\x66\xE7\0\0"), 1},  // a gap of GBK: U+E766
        {"\xE4\xB8\xAD", utf8CodePage, B("\x2D\x4E\0\0"), 1},
        {"", textCodePage, Bytes(), untouched},
        {Text(), utf8CodePage, Bytes(), untouched},
    };
    for (const auto& c : cases) {
        int charCount = untouched;
        EXPECT_EQ(TextToWide(c.t, c.codePage, &charCount), c.expected) << Escaped(c.t.view());
        EXPECT_EQ(charCount, c.charCount) << Escaped(c.t.view());
    }
    EXPECT_EQ(TextToWide("ab"), B("a\0b\0\0\0"));  // no out-parameter, code page 936
}

TEST(WideToText, UpToFirstZeroUnitAndByteCount) {
    struct {
        Bytes w;
        int codePage;
        const char* expected;
        int byteCount;
    } cases[] = {
        {B("a\0b\0\0\0"), textCodePage, "ab", 2},
        {B("a\0b\0"), textCodePage, "ab", 1},  // no terminating unit
        {B("a"), textCodePage, "", untouched},
        {Bytes(), textCodePage, "", untouched},
        {B("\x2D\x4E\0\0"), textCodePage, "\xD6\xD0", 2},
        {B("\x66\xE7\0\0"), textCodePage, "\xA2\xAB", 2},
        {B("\x2D\x4E\0\0"), utf8CodePage, "\xE4\xB8\xAD", 3},
        {B("a\0b"), textCodePage, "a", 0},  // an odd last byte is not a unit
        {B("a\0\0\0b\0"), textCodePage, "a", 2},
    };
    for (const auto& c : cases) {
        int byteCount = untouched;
        EXPECT_EQ(WideToText(c.w, c.codePage, &byteCount), Text(c.expected))
            << testing::PrintToString(c.w);
        EXPECT_EQ(byteCount, c.byteCount) << testing::PrintToString(c.w);
    }
    EXPECT_EQ(WideToText(B("\x2D\x4E\0\0")), Text("\xD6\xD0"));
}

TEST(Utf8ToText, ConvertsToCodePage936) {
    struct {
        Bytes b;
        const char* expected;
    } cases[] = {
        {B("\xE4\xB8\xAD"), "\xD6\xD0"},
        {B("a\0b"), "a"},  // a zero byte ends the text
        {Bytes(), ""},
        {B("{\"k\":\"\xE4\xB8\xAD\xE6\x96\x87\"}"), "{\"k\":\"\xD6\xD0\xCE\xC4\"}"},
        {B("\xE0\xB8\x81"), "?"},  // Thai letter: not in code page 936
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToText(c.b), Text(c.expected)) << testing::PrintToString(c.b);
    EXPECT_EQ(Utf8ToText(B("\xE4\xB8\xAD"), utf8CodePage), Text("\xE4\xB8\xAD"));
}

TEST(AnsiToWide, TerminatedUnitsInTheGivenCodePage) {
    EXPECT_EQ(AnsiToWide("\xE4\xB8\xAD"), B("\x2D\x4E\0\0"));
    EXPECT_EQ(AnsiToWide("\xD6\xD0", textCodePage), B("\x2D\x4E\0\0"));
    EXPECT_EQ(AnsiToWide(""), B("\0\0"));
    // Code-page-936 bytes read as UTF-8 need more units than they have characters in 936: the
    // buffer must still fit them rather than come back all zero.
    Bytes w = AnsiToWide("\xD6\xD0");
    ASSERT_GE(BytesLength(w), 4);
    EXPECT_TRUE(w.data()[0] != 0 || w.data()[1] != 0);
    EXPECT_EQ(w.data()[BytesLength(w) - 1], 0);
    EXPECT_EQ(w.data()[BytesLength(w) - 2], 0);
}

TEST(WideToAnsi, UpToFirstZeroUnit) {
    struct {
        Bytes w;
        int codePage;
        const char* expected;
    } cases[] = {
        {B("\x2D\x4E\0\0"), ansiCodePage, "\xD6\xD0"},
        {B("\x2D\x4E\0\0"), utf8CodePage, "\xE4\xB8\xAD"},
        {B("a\0\0\0b\0"), utf8CodePage, "a"},
        {B("\x2D\x4E"), utf8CodePage, "\xE4\xB8\xAD"},  // no terminating unit: read no further
        {Bytes(), utf8CodePage, ""},
        // Two Thai letters: one byte each in 936 ("?"), three each in UTF-8.
        {B("\x01\x0E\x01\x0E\0\0"), utf8CodePage, "\xE0\xB8\x81\xE0\xB8\x81"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WideToAnsi(c.w, c.codePage), Text(c.expected)) << testing::PrintToString(c.w);
}

TEST(AnsiToUtf8, ConvertsCodePage936ToUtf8) {
    EXPECT_EQ(AnsiToUtf8("\xD6\xD0"), Text("\xE4\xB8\xAD"));
    EXPECT_EQ(AnsiToUtf8("plain ASCII"), Text("plain ASCII"));
    EXPECT_EQ(AnsiToUtf8("a\xD6\xD0\xCE\xC4z"), Text("a\xE4\xB8\xAD\xE6\x96\x87z"));
    EXPECT_EQ(AnsiToUtf8("\xFE\xA0"), Text("\xEE\xA1\xA4"));  // the last gap, U+E864
    EXPECT_TRUE(AnsiToUtf8(Text()).empty());
}
