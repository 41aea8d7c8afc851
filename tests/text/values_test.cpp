// The value types and the operations that make, join, compare and convert them.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "printers.h"
#include "text/text.h"

TEST(TextValue, ConstructionStopsAtZeroAndTreatsNullAsEmpty) {
    const char raw[] = {'a', 'b', '\0', 'c'};
    struct {
        Text made;
        const char* expected;
    } cases[] = {
        {Text(nullptr), ""},  {Text(""), ""},         {Text("abc"), "abc"},
        {Text(raw, 4), "ab"}, {Text(raw, 1), "a"},    {Text(raw, 0), ""},
        {Text(raw, -3), ""},  {Text(nullptr, 5), ""}, {Text(std::string_view(raw, 4)), "ab"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.made.c_str(), c.expected);
        EXPECT_EQ(TextLength(c.made), static_cast<int>(std::string_view(c.expected).size()))
            << c.expected;
    }
}

TEST(TextValue, EmptyGivesValidCStringAndCopiesAreIndependent) {
    Text empty;
    ASSERT_NE(empty.c_str(), nullptr);
    EXPECT_STREQ(empty.c_str(), "");

    Text original("abc");
    Text copy = original;
    Text moved = std::move(original);
    EXPECT_EQ(copy, Text("abc"));
    EXPECT_EQ(moved, Text("abc"));
    EXPECT_NE(copy.c_str(), moved.c_str());
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_STREQ(original.c_str(), "");

    copy = copy;  // self-assignment keeps the value
    EXPECT_EQ(copy, Text("abc"));
}

TEST(BytesValue, HoldsZeroBytesAndCopiesThem) {
    Bytes b = B("a\0b");
    EXPECT_EQ(BytesLength(b), 3);
    Bytes copy = b;
    EXPECT_EQ(copy, b);
    EXPECT_NE(copy.data(), b.data());
    Bytes moved = std::move(b);
    EXPECT_EQ(moved, copy);
    EXPECT_EQ(BytesLength(b), 0);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(BytesLength(Bytes()), 0);
}

TEST(TextListValue, ElementsAreOneBased) {
    TextList list = SplitText("x,y");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1), Text("x"));
    EXPECT_EQ(list.Item(2), Text("y"));
}

TEST(TextListDeathTest, ElementOutsideRangeStopsTheProgram) {
    TextList list = SplitText("x,y");
    EXPECT_DEATH(list.Item(0), "outside");
    EXPECT_DEATH(list.Item(3), "outside");
    EXPECT_DEATH(TextList().Item(1), "outside");
}

TEST(ConcatText, JoinsPartsAbsentCountingAsEmpty) {
    const char* absent = nullptr;
    EXPECT_EQ(ConcatText(Text("ab")), Text("ab"));
    EXPECT_EQ(ConcatText("https://", Text("host"), "/path?", absent, Text(), "t=1"),
              Text("https://host/path?t=1"));
    Text empty = ConcatText(Text(), "");
    EXPECT_TRUE(empty.empty());
    EXPECT_STREQ(empty.c_str(), "");
}

TEST(ConcatBytes, JoinsArraysKeepingZeros) {
    EXPECT_EQ(ConcatBytes(B("a\0"), Bytes(), B("\0b")), B("a\0\0b"));
    EXPECT_TRUE(ConcatBytes(Bytes(), Bytes()).empty());
    EXPECT_EQ(ConcatBytes(B("xy")), B("xy"));
}

TEST(CompareText, UnsignedBytesPrefixIsSmaller) {
    struct {
        Text a, b;
        int expected;
    } cases[] = {
        {Text(), Text(""), 0},         {Text("a"), Text("b"), -1},  {Text("b"), Text("a"), 1},
        {Text("ab"), Text("a"), 1},    {Text("a"), Text("ab"), -1}, {Text("abc"), Text("abc"), 0},
        {Text("\xB0"), Text("z"), 1},  // 0xB0 is above every ASCII byte
        {Text("z"), Text("\xB0"), -1}, {Text(), Text("a"), -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareText(c.a, c.b), c.expected)
            << Escaped(c.a.view()) << " vs " << Escaped(c.b.view());
}

TEST(BytesToText, StopsAtFirstZeroByte) {
    struct {
        Bytes b;
        const char* expected;
    } cases[] = {
        {B("a\0b"), "a"}, {B("abc"), "abc"}, {B("abc\0"), "abc"},
        {B("\0abc"), ""}, {Bytes(), ""},     {B("abcdefgh\0x"), "abcdefgh"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BytesToText(c.b), Text(c.expected)) << Escaped(c.expected);
        // The overload for a value the caller gives up must give the same text.
        Bytes given = c.b;
        EXPECT_EQ(BytesToText(std::move(given)), Text(c.expected)) << Escaped(c.expected);
    }
}

// Buffers of several MiB lie on the platform's large blocks; taking one over as a text grows
// it by the NUL in place.
TEST(BytesToText, LargeBuffersKeepTheirBytes) {
    const int sizes[] = {4 * 1048576 - 1, 4 * 1048576, 6 * 1048576 + 5};
    for (int size : sizes) {
        Bytes b = BlankBytes(size);
        ASSERT_EQ(BytesLength(b), size);
        EXPECT_EQ(b.data()[size - 1], 0) << size;
        for (int i = 0; i < size; ++i)
            b.data()[i] = static_cast<unsigned char>('a' + i % 26);
        const Bytes copy = b;
        const Text text = BytesToText(std::move(b));
        ASSERT_EQ(TextLength(text), size) << size;
        EXPECT_EQ(text.c_str()[size], '\0') << size;
        EXPECT_EQ(TextToBytes(text), copy) << size;
    }
}

TEST(TextToBytes, DropsTheNul) {
    EXPECT_EQ(TextToBytes("ab"), B("ab"));
    EXPECT_TRUE(TextToBytes(Text()).empty());
}

TEST(PointerToBytes, CopiesMemory) {
    const unsigned char memory[] = {0, 1, 2, 0};
    Bytes b = PointerToBytes(memory, 4);
    ASSERT_EQ(BytesLength(b), 4);
    EXPECT_NE(b.data(), memory);
    EXPECT_EQ(b.data()[1], 1);
    EXPECT_TRUE(PointerToBytes(memory, 0).empty());
    EXPECT_TRUE(PointerToBytes(memory, -1).empty());
}

TEST(CharFromCode, KeepsLowByteAndGivesEmptyForZero) {
    struct {
        int code;
        Text expected;
    } cases[] = {
        {0x41, Text("A")}, {0x141, Text("A")}, {0, Text()},
        {0x100, Text()},   {-1, Text("\xFF")}, {0xB0, Text("\xB0")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CharFromCode(c.code), c.expected) << c.code;
}

TEST(BlankValues, BlanksAndZeros) {
    EXPECT_EQ(BlankText(3), Text("   "));
    EXPECT_TRUE(BlankText(0).empty());
    EXPECT_TRUE(BlankText(-2).empty());
    EXPECT_EQ(BlankBytes(3), B("\0\0\0"));
    EXPECT_TRUE(BlankBytes(0).empty());
    EXPECT_TRUE(BlankBytes(-1).empty());
}

TEST(BitOr, CombinesTwoOrMoreValues) {
    EXPECT_EQ(BitOr(1, 2), 3);
    EXPECT_EQ(BitOr(1, 2, 4, 8), 15);
    // The header flags of a request: the high bit survives as a 32-bit pattern.
    EXPECT_EQ(static_cast<std::uint32_t>(BitOr(0x20000000u, 0x80000000u)), 0xA0000000u);
    EXPECT_EQ(BitOr(-1, 0), -1);
}
