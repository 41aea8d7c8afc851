// Code page 936 against a peer: glibc's iconv table for CP936, character by character, with
// Windows' known differences from it tabled.
#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <optional>
#include <string>

#include "platform/winapi.h"

namespace {

// Where Windows' code page 936 and glibc's CP936 differ: glibc leaves these unassigned, Windows
// maps them in order onto consecutive private-use characters. GBK's three user-defined areas
// come first; every pair left empty outside them (A2AB, ..., FEA0) follows in byte order.
struct KnownDifference {
    const char* what;
    unsigned leadFirst, leadLast, trailFirst, trailLast;
    char16_t firstUnit;
};
const KnownDifference knownDifferences[] = {
    {"user-defined area AAA1-AFFE", 0xAA, 0xAF, 0xA1, 0xFE, 0xE000},
    {"user-defined area F8A1-FEFE", 0xF8, 0xFE, 0xA1, 0xFE, 0xE234},
    {"user-defined area A140-A7A0", 0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},
};
constexpr char16_t firstGapUnit = 0xE766;
constexpr char16_t lastGapUnit = 0xE864;
constexpr int gapCount = lastGapUnit - firstGapUnit + 1;  // 255
// The single byte 0xFF, unassigned in glibc, is U+F8F5 on Windows.
constexpr char16_t windowsUnitForFF = 0xF8F5;

bool IsTrail(unsigned b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Windows' unit for a pair glibc leaves unassigned, if the pair is in a user-defined area.
std::optional<char16_t> UserDefined(unsigned lead, unsigned trail) {
    for (const KnownDifference& d : knownDifferences) {
        char16_t unit = d.firstUnit;
        for (unsigned l = d.leadFirst; l <= d.leadLast; ++l) {
            for (unsigned t = d.trailFirst; t <= d.trailLast; ++t) {
                if (!IsTrail(t)) continue;
                if (l == lead && t == trail) return unit;
                ++unit;
            }
        }
    }
    return std::nullopt;
}

// One iconv descriptor per direction for the whole test.
class Peer {
  public:
    Peer(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Peer() {
        if (Valid()) iconv_close(cd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // The converted bytes, or nothing when glibc cannot convert the input.
    std::optional<std::string> Convert(const std::string& in) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(16, '\0');
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            return std::nullopt;
        }
        out.resize(out.size() - outLeft);
        return out;
    }

  private:
    iconv_t cd_;
};

std::u16string Decode(const std::string& bytes) {
    char16_t out[4];
    int n = MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), out, 4);
    return std::u16string(out, n > 0 ? n : 0);
}

std::string Encode(char16_t unit) {
    char out[4];
    int n = WideCharToMultiByte(936, 0, &unit, 1, out, 4, nullptr, nullptr);
    return std::string(out, n > 0 ? n : 0);
}

char16_t UnitOf(const std::string& utf16le) {
    return static_cast<char16_t>(static_cast<unsigned char>(utf16le[0]) |
                                 static_cast<unsigned char>(utf16le[1]) << 8);
}

std::string Name(unsigned lead, unsigned trail) {
    char text[16];
    snprintf(text, sizeof text, "%02X%02X", lead, trail);
    return text;
}

TEST(CodePage936, EveryDoubleBytePairAgreesWithIconv) {
    Peer toWide("UTF-16LE", "CP936");
    ASSERT_TRUE(toWide.Valid());
    int userDefined = 0;
    char16_t nextGapUnit = firstGapUnit;
    std::map<char16_t, std::string> gapsSeen;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (!IsTrail(trail)) continue;
            std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            std::optional<std::string> peer = toWide.Convert(pair);
            std::optional<char16_t> user = UserDefined(lead, trail);
            std::u16string mine = Decode(pair);
            ASSERT_EQ(mine.size(), 1u) << Name(lead, trail);
            if (peer) {
                ASSERT_EQ(peer->size(), 2u) << Name(lead, trail);
                EXPECT_FALSE(user) << Name(lead, trail) << " is assigned in glibc";
                EXPECT_EQ(mine[0], UnitOf(*peer)) << Name(lead, trail);
            } else if (user) {
                ++userDefined;
                EXPECT_EQ(mine[0], *user) << Name(lead, trail);
            } else {
                EXPECT_EQ(mine[0], nextGapUnit) << Name(lead, trail) << " is a gap of GBK";
                gapsSeen[nextGapUnit++] = Name(lead, trail);
            }
            EXPECT_EQ(Encode(mine[0]), pair) << Name(lead, trail) << " back";
        }
    }
    EXPECT_EQ(userDefined, 1894);  // GBK's user-defined characters
    EXPECT_EQ(static_cast<int>(gapsSeen.size()), gapCount);
    EXPECT_EQ(gapsSeen[firstGapUnit], "A2AB");
    EXPECT_EQ(gapsSeen[lastGapUnit], "FEA0");
}

TEST(CodePage936, EveryUtf16UnitAgreesWithIconv) {
    Peer toAnsi("CP936", "UTF-16LE");
    ASSERT_TRUE(toAnsi.Valid());
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // lone surrogates: see CodePage936 tests
        std::string utf16le{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        std::optional<std::string> peer = toAnsi.Convert(utf16le);
        std::string mine = Encode(static_cast<char16_t>(unit));
        if (peer) {
            EXPECT_EQ(mine, *peer) << std::hex << unit;
        } else if (unit == windowsUnitForFF) {
            EXPECT_EQ(mine, "\xFF");
        } else if (unit >= 0xE000 && unit <= lastGapUnit) {
            EXPECT_EQ(mine.size(), 2u) << std::hex << unit << ": a user-defined character or gap";
        } else {
            EXPECT_EQ(mine, "?") << std::hex << unit;
        }
        if (mine != "?") {
            EXPECT_EQ(Decode(mine), std::u16string(1, unit)) << std::hex << unit;
        }
    }
}

TEST(CodePage936, SingleBytesAgreeWithIconv) {
    Peer toWide("UTF-16LE", "CP936");
    ASSERT_TRUE(toWide.Valid());
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        std::string one(1, static_cast<char>(byte));
        std::optional<std::string> peer = toWide.Convert(one);
        std::u16string mine = Decode(one);
        ASSERT_EQ(mine.size(), 1u) << byte;
        if (peer) {
            EXPECT_EQ(mine[0], UnitOf(*peer)) << byte;
        } else if (byte == 0xFF) {
            EXPECT_EQ(mine[0], windowsUnitForFF);
        } else {
            EXPECT_EQ(mine[0], 0xFFFD) << byte << ": a lead byte alone";
        }
    }
}

}  // namespace
