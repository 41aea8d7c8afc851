// Cutting, searching and changing texts; the double-byte walk.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <vector>

#include "printers.h"
#include "text/text.h"

TEST(Cutting, LeftRightMidCountBytes) {
    struct {
        Text result;
        const char* expected;
        const char* what;
    } cases[] = {
        {LeftText("abc", 2), "ab", "left 2"},
        {LeftText("abc", 5), "abc", "left beyond length"},
        {LeftText("abc", 0), "", "left 0"},
        {LeftText("abc", -1), "", "left negative"},
        {LeftText(Text(), 3), "", "left of absent"},
        {RightText("abc", 2), "bc", "right 2"},
        {RightText("abc", 5), "abc", "right beyond length"},
        {RightText("abc", 0), "", "right 0"},
        {RightText("abc", INT_MIN), "", "right INT_MIN"},
        {MidText("abcdef", 3, 2), "cd", "mid inside"},
        {MidText("abcdef", 5, 10), "ef", "mid past the end"},
        {MidText("abcdef", 6, 1), "f", "mid last byte"},
        {MidText("abcdef", 7, 1), "", "mid start behind"},
        {MidText("abcdef", 0, 2), "", "mid start 0"},
        {MidText("abcdef", 1, 0), "", "mid count 0"},
        {MidText("abcdef", 2, INT_MAX), "bcdef", "mid count INT_MAX"},
        {MidText("\xD6\xD0x", 2, 2), "\xD0x", "mid cuts a character"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, Text(c.expected)) << c.what;
}

TEST(FindText, WindowsAndDoubleByteWalk) {
    struct {
        Text t, s;
        int start, ignoreCase, expected;
    } cases[] = {
        {"abcabc", "c", 1, 0, 3},
        {"abcabc", "c", 4, 0, 6},
        {"abcabc", "c", 7, 0, -1},
        {"abcabc", "c", 100, 0, -1},
        {"abcabc", "c", INT_MAX, 0, -1},
        {"abcabc", "c", 0, 0, 3},
        {"abcabc", "c", -5, 0, 3},
        {"abcabc", "c", INT_MIN, 0, 3},
        {"abcabc", "abc", 2, 0, 4},
        {"abcabc", "bcx", 1, 0, -1},
        {"ab", "abc", 1, 0, -1},  // longer than the text
        {"abc", "", 1, 0, 1},
        {"abc", "", 3, 0, 1},  // 1 even from a later start
        {"abc", "", 4, 0, -1},
        {"", "", 1, 0, -1},
        {"", "a", 1, 0, -1},
        {"xABCx", "abc", 1, 1, 2},
        {"xABCx", "abc", 1, 0, -1},
        {"xABCx", "abc", 1, 2, -1},  // a flag is true only when it is 1
        {"x[A]", "[a]", 1, 1, 2},
        // 0xB0 0x41 is one character whose trail byte is the letter A.
        {"\xB0\x41\x41", "A", 1, 0, 3},
        {"\xB0\x41", "A", 1, 0, -1},
        {"\xB0\x61", "A", 1, 1, -1},
        // Starting on a trail byte: the walk counts from where it begins.
        {"\xB0\x41\x41", "A", 2, 0, 2},
        // A match across two characters is not a match.
        {"\xD6\xD0\xCE\xC4", "\xD0\xCE", 1, 0, -1},
        {"\xD6\xD0\xCE\xC4", "\xCE\xC4", 1, 0, 3},
        // A lone lead byte at the end is still a step of the walk.
        {"a\xB0", "\xB0", 1, 0, 2},
        // Non-letters are compared as they are under ignoreCase.
        {"a@b", "`", 1, 1, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindText(c.t, c.s, c.start, c.ignoreCase), c.expected)
            << Escaped(c.t.view()) << " / " << Escaped(c.s.view()) << " from " << c.start
            << " ignoreCase " << c.ignoreCase;
    EXPECT_EQ(FindText("abcabc", "c"), 3);
}

TEST(ReverseFindText, LastMatchWhollyInsideWindow) {
    struct {
        Text t, s;
        std::optional<int> start;
        int ignoreCase, expected;
    } cases[] = {
        {"abcabc", "c", std::nullopt, 0, 6},
        {"abcabc", "c", 6, 0, 3},
        {"abcabc", "c", 7, 0, 6},
        {"abcabc", "c", 100, 0, 6},
        {"abcabc", "c", INT_MAX, 0, 6},
        {"abcabc", "c", 1, 0, -1},
        {"abcabc", "c", 0, 0, -1},
        {"abcabc", "c", INT_MIN, 0, -1},
        {"abcabc", "bc", 6, 0, 2},  // bc at 5 would end outside the first 5 bytes
        {"abcabc", "bc", 7, 0, 5},
        {"abc", "", std::nullopt, 0, 1},
        {"abc", "", 2, 0, 1},
        {"abc", "", 1, 0, -1},
        {"", "", std::nullopt, 0, -1},
        {"a/b/c?x=/y", "/", std::nullopt, 0, 9},
        {"xABCxabc", "ABC", std::nullopt, 1, 6},
        {"xABCxabc", "ABC", std::nullopt, 0, 2},
        {"\xB0\x41\x41", "A", std::nullopt, 0, 3},
        {"\xB0\x41", "A", std::nullopt, 0, -1},
        {"A\xB0\x41", "A", std::nullopt, 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReverseFindText(c.t, c.s, c.start, c.ignoreCase), c.expected)
            << Escaped(c.t.view()) << " / " << Escaped(c.s.view()) << " start "
            << (c.start ? *c.start : -999);
}

TEST(Trimming, BlanksAreSpaceAndFullWidthBlankOnly) {
    struct {
        Text t;
        const char* start;  // TrimStart
        const char* both;   // TrimBoth
    } cases[] = {
        {"  a b  ", "a b  ", "a b"},
        {"\xA1\xA1\xA1\xA1"
         "a b",
         "a b", "a b"},
        {"a\xA1\xA1 \xA1\xA1", "a\xA1\xA1 \xA1\xA1", "a"},
        {"\ta", "\ta", "\ta"},
        {"a\t\r\n", "a\t\r\n", "a\t\r\n"},
        {"   ", "", ""},
        {"\xA1\xA1", "", ""},
        {"", "", ""},
        // 0xA1 followed by another byte is an ordinary character.
        {"\xA1"
         "a",
         "\xA1"
         "a",
         "\xA1"
         "a"},
        // A lone lead byte at the end is cut; blanks before it stay.
        {"a \xB0", "a \xB0", "a "},
        {" \xA1", "\xA1", ""},
        // 0xB0 0xA1 is one character, so the final 0xA1 is a lone lead byte, not half a blank.
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1", "\xB0\xA1"},
        // The blank's bytes as the trail of a character and the lead of the next.
        {"x\xC1\xA1\xA1\xA1", "x\xC1\xA1\xA1\xA1", "x\xC1\xA1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrimStart(c.t), Text(c.start)) << Escaped(c.t.view());
        EXPECT_EQ(TrimBoth(c.t), Text(c.both)) << Escaped(c.t.view());
    }
}

TEST(ReplaceTextAt, ClampsPositionAndCount) {
    struct {
        Text t;
        int start, count;
        Text repl;
        const char* expected;
    } cases[] = {
        {"abcdef", 3, 2, "XY", "abXYef"},
        {"abc", 10, 1, "Z", "abcZ"},
        {"abc", 2, 0, "Z", "aZbc"},
        {"abc", 2, -4, "Z", "aZbc"},
        {"abc", 1, 1, "Z", "Zbc"},
        {"abc", 0, 1, "Z", "Zbc"},
        {"abc", -7, 1, "Z", "Zbc"},
        {"abc", 2, 100, "Z", "aZ"},
        {"abc", 2, INT_MAX, "Z", "aZ"},
        {"abc", 4, 1, "Z", "abcZ"},
        {"abc", INT_MAX, 1, "Z", "abcZ"},
        {"abc", INT_MIN, 1, "Z", "abcZ"},  // start - 1 wraps to INT_MAX
        {"abc", INT_MIN + 1, 1, "Z", "Zbc"},
        {"abc", 2, 1, Text(), "ac"},
        {"", 1, 1, "Z", "Z"},
        {"abc", 1, 3, Text(), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceTextAt(c.t, c.start, c.count, c.repl), Text(c.expected))
            << Escaped(c.t.view()) << " at " << c.start << " count " << c.count;
    EXPECT_EQ(ReplaceTextAt("abc", 2, 1), Text("ac"));
}

TEST(CaseMapping, AsciiLettersOnlyTrailBytesKept) {
    struct {
        Text t;
        const char* upper;
        const char* lower;
    } cases[] = {
        {"aZ09-z", "AZ09-Z", "az09-z"},
        {"\xB0\x61x", "\xB0\x61X", "\xB0\x61x"},
        {"\xC1\x41X", "\xC1\x41X", "\xC1\x41x"},
        {"a\xB0", "A\xB0", "a\xB0"},
        {"@[`{", "@[`{", "@[`{"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUpper(c.t), Text(c.upper)) << Escaped(c.t.view());
        EXPECT_EQ(ToLower(c.t), Text(c.lower)) << Escaped(c.t.view());
    }
}

namespace {
std::vector<Text> Pieces(const TextList& list) {
    return {list.begin(), list.end()};
}
using V = std::vector<Text>;
}  // namespace

TEST(SplitText, PiecesAndLimits) {
    struct {
        Text t, sep;
        std::optional<int> max;
        V expected;
    } cases[] = {
        {"a,b,c", ",", std::nullopt, V{"a", "b", "c"}},
        {"a,,b", ",", std::nullopt, V{"a", "", "b"}},
        {",a", ",", std::nullopt, V{"", "a"}},
        {"a,b,", ",", std::nullopt, V{"a", "b"}},
        {",", ",", std::nullopt, V{""}},
        {"abc", ",", std::nullopt, V{"abc"}},
        {"", ",", std::nullopt, V{}},
        {"a,b,c", ",", 2, V{"a", "b"}},
        {"a,b,c", ",", 3, V{"a", "b", "c"}},
        {"a,b,c", ",", 1, V{"a"}},
        {"a,b,c", ",", 0, V{}},
        {"a,b,c", ",", -1, V{}},
        {"a,b,c", ",", 10, V{"a", "b", "c"}},
        {"a,b,c", "", std::nullopt, V{"a,b,c"}},
        {"a; b; c", "; ", std::nullopt, V{"a", "b", "c"}},
        {"a::b:::c", "::", std::nullopt, V{"a", "b", ":c"}},
        // The comma after 0xB0 is its trail byte, not a separator.
        {"\xB0,a,b", ",", std::nullopt, V{"\xB0,a", "b"}},
        {"a,\xB0", ",", std::nullopt, V{"a", "\xB0"}},
        // The separator is compared exactly.
        {"aXbxc", "x", std::nullopt, V{"aXb", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Pieces(SplitText(c.t, c.sep, c.max)), c.expected)
            << Escaped(c.t.view()) << " by " << Escaped(c.sep.view()) << " max "
            << (c.max ? *c.max : -999);
    EXPECT_EQ(Pieces(SplitText("a,b")), (V{"a", "b"}));
}
