// Integers to and from text: full-width digits, signs, white space and 32-bit wrap-around.
#include <gtest/gtest.h>

#include <climits>

#include "printers.h"
#include "text/text.h"

TEST(TextToInt, ReadsTheIntegerAtTheStart) {
    struct {
        Text t;
        int expected;
    } cases[] = {
        {" -42abc", -42},
        {"abc", 0},
        {"", 0},
        {"+7", 7},
        {"-", 0},
        {"+-3", 0},
        {"\t\n\v\f\r 5", 5},
        {"0012", 12},
        {"12 34", 12},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MIN},  // wraps
        {"4294967297", 1},        // 2^32 + 1 wraps to 1
        {"-4294967295", 1},
        {"99999999999999999999", 1661992959},  // 10^20 - 1 modulo 2^32
        // Full-width digits 1 and 2.
        {"\xA3\xB1\xA3\xB2", 12},
        // Full-width blank, full-width minus, full-width 7.
        {"\xA1\xA1\xA3\xAD\xA3\xB7", -7},
        // Full-width plus sign, ASCII digits after it.
        {"\xA3\xAB"
         "9",
         9},
        // A character whose trail byte is a digit is not a digit.
        {"\xB0\x35", 0},
        // Folding stops nowhere: digits after a full-width digit continue.
        {"\xA3\xB1"
         "0\xA3\xB0",
         100},
        // 0xA1 0xAB folds to a tilde, not a sign.
        {"\xA1\xAB"
         "5",
         0},
        // A lone lead byte is copied as it is.
        {"5\xA3", 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextToInt(c.t), c.expected) << Escaped(c.t.view());
}

TEST(IntToText, SignedDecimal) {
    struct {
        int n;
        const char* expected;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {-7, "-7"},
        {1000, "1000"},
        {INT_MAX, "2147483647"},
        {INT_MIN, "-2147483648"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntToText(c.n), Text(c.expected)) << c.n;
}

TEST(HexText, UpperCaseWithoutLeadingZeros) {
    struct {
        int n;
        const char* expected;
    } cases[] = {
        {5, "5"},         {10, "A"},        {255, "FF"},           {0, "0"},
        {-1, "FFFFFFFF"}, {0x1A2B, "1A2B"}, {INT_MIN, "80000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexText(c.n), Text(c.expected)) << c.n;
}
