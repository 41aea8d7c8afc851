// Base64 and percent-encoding, and the two run one after the other as a picture is prepared.
#include <gtest/gtest.h>

#include <string>

#include "printers.h"
#include "text/text.h"

namespace {

// Standard Base64 (RFC 4648, section 4) written the plain way, to hold the encoder against.
std::string ReferenceBase64(const std::string& in) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, in.size() - i);
        unsigned v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out.push_back(k <= n ? alphabet[(v >> (18 - 6 * k)) & 63] : '=');
    }
    return out;
}

Bytes BytesOf(const std::string& s) {
    return Bytes(s.data(), static_cast<int>(s.size()));
}

// Every byte value, repeated to the given length.
std::string Sample(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

}  // namespace

TEST(EncodeBase64, PaddingAndTerminatingZero) {
    struct {
        Bytes b;
        Bytes expected;
    } cases[] = {
        {B("a"), B("YQ==\0")},        {B("ab"), B("YWI=\0")}, {B("abc"), B("YWJj\0")},
        {B("abcd"), B("YWJjZA==\0")}, {B("\0"), B("AA==\0")}, {B("\xFB\xFF\xBF"), B("+/+/\0")},
        {Bytes(), Bytes()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeBase64(c.b), c.expected) << testing::PrintToString(c.b);
}

TEST(EncodeBase64, OneLineForEveryLength) {
    // Lengths around the 64- and 76-character line widths other encoders break at, and beyond.
    for (std::size_t n :
         {1u, 2u, 3u, 47u, 48u, 49u, 56u, 57u, 58u, 100u, 255u, 256u, 1000u, 4096u, 65537u}) {
        const std::string input = Sample(n);
        const Bytes encoded = EncodeBase64(BytesOf(input));
        const std::string expected = ReferenceBase64(input);
        ASSERT_EQ(BytesLength(encoded), static_cast<int>(expected.size() + 1)) << n;
        EXPECT_EQ(encoded.data()[expected.size()], 0) << n;
        EXPECT_EQ(BytesToText(encoded), Text(expected.c_str())) << n;
    }
}

TEST(PercentEncode, EscapesAndPlainCharacters) {
    struct {
        Text t;
        int keepPlain, asUtf8;
        const char* expected;
    } cases[] = {
        {"a-b_c.d/e~f", 1, 0, "a-b%5Fc.d%2Fe%7Ef"},
        {"a-b_c.d/e~f", 0, 0, "%61%2D%62%5F%63%2E%64%2F%65%7E%66"},
        {" ", 0, 0, "%20"},
        {" ", 1, 0, "%20"},
        {"\n", 0, 0, "%0A"},
        {"\x01\x7F\x80\xFF", 1, 0, "%01%7F%80%FF"},
        {"AZaz09-.", 1, 0, "AZaz09-."},
        {"@[`{/:", 1, 0, "%40%5B%60%7B%2F%3A"},  // the neighbours of the plain ranges
        {"+/=", 1, 0, "%2B%2F%3D"},
        {"\xD6\xD0", 0, 0, "%D6%D0"},
        {"\xD6\xD0", 1, 0, "%D6%D0"},
        {"\xD6\xD0", 0, 1, "%E4%B8%AD"},
        {"a\xD6\xD0", 1, 1, "a%E4%B8%AD"},
        {"\xA2\xAB", 1, 1, "%EE%9D%A6"},  // a gap of GBK, U+E766 on Windows
        {"ab", 2, 0, "%61%62"},           // a flag counts only when it is 1
        {"\xD6\xD0", 0, 2, "%D6%D0"},
        {"", 1, 1, ""},
        {"", 0, 0, ""},
        {Text(), 1, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PercentEncode(c.t, c.keepPlain, c.asUtf8), Text(c.expected))
            << Escaped(c.t.view()) << " keepPlain " << c.keepPlain << " asUtf8 " << c.asUtf8;
        // A text the caller gives up is encoded in its own buffer: same result.
        EXPECT_EQ(PercentEncode(Text(c.t), c.keepPlain, c.asUtf8), Text(c.expected))
            << "in place: " << Escaped(c.t.view()) << " keepPlain " << c.keepPlain;
    }
    EXPECT_EQ(PercentEncode("a b"), Text("%61%20%62"));
}

TEST(PercentEncode, EveryByteValueBecomesItsEscape) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    const Text input(all.c_str());
    for (const Text& encoded : {PercentEncode(input), PercentEncode(Text(input))}) {
        ASSERT_EQ(TextLength(encoded), 3 * 255);
        for (int c = 1; c < 256; ++c) {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", c);
            EXPECT_EQ(encoded.view().substr(static_cast<std::size_t>(3 * (c - 1)), 3),
                      std::string_view(expected))
                << c;
        }
    }
}

TEST(PercentEncode, InPlaceMatchesCopyForMixedTexts) {
    // Plain and escaped bytes mixed in every proportion: the in-place encoder writes from the
    // end and must never overwrite a byte it has yet to read.
    const char alphabet[] = "aZ9-._/ %\xB0\xD6\xD0+=";
    for (std::size_t n = 1; n < 64; ++n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s.push_back(alphabet[(i * i + 3 * n) % (sizeof alphabet - 1)]);
        const Text t(s.c_str());
        for (int keepPlain : {0, 1})
            EXPECT_EQ(PercentEncode(Text(t), keepPlain), PercentEncode(t, keepPlain))
                << Escaped(s) << " keepPlain " << keepPlain;
    }
}

TEST(PictureEncoding, Base64ThenPercentEncoded) {
    // Base64's "+", "/" and "=" must come out escaped, and so must every letter and digit.
    const Bytes encoded = EncodeBase64(B("\xFB\xFF"));
    EXPECT_EQ(PercentEncode(BytesToText(encoded)), Text("%2B%2F%38%3D"));
    const std::string input = Sample(3000);
    const Text expected = PercentEncode(Text(ReferenceBase64(input).c_str()));
    EXPECT_EQ(PercentEncode(BytesToText(EncodeBase64(BytesOf(input)))), expected);
}
