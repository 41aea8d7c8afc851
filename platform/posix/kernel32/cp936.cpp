// Code page 936 as Windows defines it. glibc's iconv table for CP936 (GBK with the euro sign at
// 0x80) is read once, in one run over all double-byte pairs, into a lookup table for each
// direction; Windows' additions to it are applied on top. Every conversion is then a table
// lookup per character, with no converter state.
#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/posix/kernel32/codepage.h"

namespace platform::detail {

namespace {

constexpr const char* iconvCp936 = "CP936";
constexpr const char* iconvUtf16 = "UTF-16LE";

constexpr unsigned char euroByte = 0x80;
constexpr char16_t euroUnit = 0x20AC;
// Windows maps the single byte 0xFF, which GBK leaves unassigned, to a private-use character.
constexpr unsigned char byteFF = 0xFF;
constexpr char16_t unitForFF = 0xF8F5;

// GBK's user-defined areas, which Windows maps row by row onto U+E000..U+E765.
struct UserArea {
    unsigned char leadFirst, leadLast, trailFirst, trailLast;
};
constexpr UserArea userAreas[] = {
    {0xAA, 0xAF, 0xA1, 0xFE},
    {0xF8, 0xFE, 0xA1, 0xFE},
    {0xA1, 0xA7, 0x40, 0xA0},
};
constexpr char16_t firstUserUnit = 0xE000;
// Every other pair GBK leaves empty (A2AB, ..., FEA0) follows, in byte order, from U+E766 on.
constexpr char16_t firstGapUnit = 0xE766;
constexpr unsigned firstLead = 0x81, lastLead = 0xFE;
constexpr unsigned firstTrail = 0x40, lastTrail = 0xFE;

constexpr std::size_t tableSize = 0x10000;

bool IsTrail(unsigned char b) {
    return b >= firstTrail && b <= lastTrail && b != 0x7F;
}
unsigned Pair(unsigned char lead, unsigned char trail) {
    return (lead << 8) | trail;
}

struct Tables {
    // The unit of each double-byte pair (lead << 8 | trail); 0 where the pair is unassigned.
    std::array<char16_t, tableSize> pairToUnit{};
    // The bytes of each UTF-16 unit from U+0080 on: one byte below 0x100, else lead << 8 | trail;
    // 0 where code page 936 has no character for the unit.
    std::array<std::uint16_t, tableSize> unitToBytes{};
};

// An iconv conversion descriptor, closed when its owner goes.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts as much of in as it can; returns false on anything but an unconvertible input
    // sequence, at which it stops.
    bool Step(std::vector<unsigned char>& in, std::size_t& inPos, std::vector<unsigned char>& out,
              std::size_t& outPos, bool& done) {
        char* inPtr = reinterpret_cast<char*>(in.data() + inPos);
        std::size_t inLeft = in.size() - inPos;
        char* outPtr = reinterpret_cast<char*>(out.data() + outPos);
        std::size_t outLeft = out.size() - outPos;
        std::size_t result = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        inPos = in.size() - inLeft;
        outPos = out.size() - outLeft;
        done = result != static_cast<std::size_t>(-1);
        return done || errno == EILSEQ;
    }

  private:
    iconv_t cd_;
};

// Every double-byte pair through iconv in one run, skipping over the unassigned ones.
bool FillPairs(Tables& tables) {
    Iconv cd(iconvUtf16, iconvCp936);
    if (!cd.Valid()) return false;
    std::vector<unsigned char> in;
    for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
        for (unsigned trail = firstTrail; trail <= lastTrail; ++trail) {
            if (!IsTrail(trail)) continue;
            in.push_back(static_cast<unsigned char>(lead));
            in.push_back(static_cast<unsigned char>(trail));
        }
    }
    std::vector<unsigned char> out(in.size());
    std::size_t inPos = 0, outPos = 0;
    bool done = false;
    while (!done) {
        std::size_t inStart = inPos, outStart = outPos;
        if (!cd.Step(in, inPos, out, outPos, done)) return false;
        // Each pair gives exactly one UTF-16 unit.
        if (inPos - inStart != outPos - outStart) return false;
        for (std::size_t i = inStart, o = outStart; i < inPos; i += 2, o += 2) {
            tables.pairToUnit[Pair(in[i], in[i + 1])] =
                static_cast<char16_t>(out[o] | out[o + 1] << 8);
        }
        if (!done) inPos += 2;  // an unassigned pair
    }
    return true;
}

// The way back: every pair's unit to that pair. CP936 is one-to-one, so this is the table
// glibc's converter uses in that direction, without asking it for each of 63000 units.
void InvertPairs(Tables& tables) {
    for (unsigned bytes = 0; bytes < tableSize; ++bytes) {
        char16_t unit = tables.pairToUnit[bytes];
        if (unit != 0 && tables.unitToBytes[unit] == 0) {
            tables.unitToBytes[unit] = static_cast<std::uint16_t>(bytes);
        }
    }
}

void Map(Tables& tables, unsigned bytes, char16_t unit) {
    if (bytes > 0xFF) tables.pairToUnit[bytes] = unit;
    tables.unitToBytes[unit] = static_cast<std::uint16_t>(bytes);
}

// The pairs still empty after the user-defined areas, in byte order, onto private-use units.
void MapGaps(Tables& tables) {
    char16_t unit = firstGapUnit;
    for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
        for (unsigned trail = firstTrail; trail <= lastTrail; ++trail) {
            if (!IsTrail(trail) || tables.pairToUnit[Pair(lead, trail)] != 0) continue;
            Map(tables, Pair(lead, trail), unit++);
        }
    }
}

// Windows' additions: the euro sign, 0xFF, the user-defined areas and the gaps where GBK has
// nothing.
void AddWindowsMappings(Tables& tables) {
    Map(tables, euroByte, euroUnit);
    Map(tables, byteFF, unitForFF);
    char16_t unit = firstUserUnit;
    for (const UserArea& area : userAreas) {
        for (unsigned lead = area.leadFirst; lead <= area.leadLast; ++lead) {
            for (unsigned trail = area.trailFirst; trail <= area.trailLast; ++trail) {
                if (!IsTrail(trail)) continue;
                unsigned bytes = Pair(lead, trail);
                if (tables.pairToUnit[bytes] == 0 && tables.unitToBytes[unit] == 0) {
                    Map(tables, bytes, unit);
                }
                ++unit;
            }
        }
    }
    MapGaps(tables);
}

std::unique_ptr<Tables> BuildTables() {
    auto tables = std::make_unique<Tables>();
    if (!FillPairs(*tables)) return nullptr;
    AddWindowsMappings(*tables);
    InvertPairs(*tables);
    return tables;
}

// Built on first use, once per process; read-only afterwards, so threads share it freely.
const Tables* GetTables() {
    static const std::unique_ptr<Tables> tables = BuildTables();
    return tables.get();
}

// The unit of the character at in[0]; sets taken to the bytes it uses.
char16_t DecodeChar(const Tables& tables, const unsigned char* in, std::size_t n,
                    std::size_t& taken) {
    taken = 1;
    unsigned char b = in[0];
    if (b < 0x80) return b;
    if (b == euroByte) return euroUnit;
    if (b == byteFF) return unitForFF;
    if (n < 2 || !IsTrail(in[1])) return replacementUnit;  // lead byte without a trail byte
    taken = 2;
    char16_t unit = tables.pairToUnit[Pair(b, in[1])];
    return unit != 0 ? unit : replacementUnit;
}

}  // namespace

bool Cp936Available() {
    return GetTables() != nullptr;
}

std::size_t Cp936ToUtf16(const unsigned char* in, std::size_t n, char16_t* out, std::size_t room) {
    const Tables& tables = *GetTables();
    Sink<char16_t> sink(out, room);
    std::size_t i = 0;
    while (i < n) {
        std::size_t taken;
        char16_t unit = DecodeChar(tables, in + i, n - i, taken);
        if (!sink.Fits(1)) return noRoom;
        sink.Put(unit);
        i += taken;
    }
    return sink.Count();
}

std::size_t Utf16ToCp936(const char16_t* in, std::size_t n, unsigned char* out, std::size_t room,
                         const unsigned char* defaultChar, std::size_t defaultLength,
                         bool* usedDefault) {
    const Tables& tables = *GetTables();
    Sink<unsigned char> sink(out, room);
    for (std::size_t i = 0; i < n; ++i) {
        char16_t unit = in[i];
        if (unit < 0x80) {
            if (!sink.Fits(1)) return noRoom;
            sink.Put(static_cast<unsigned char>(unit));
            continue;
        }
        unsigned bytes = tables.unitToBytes[unit];
        if (bytes == 0) {
            if (!sink.Fits(defaultLength)) return noRoom;
            for (std::size_t k = 0; k < defaultLength; ++k)
                sink.Put(defaultChar[k]);
            if (usedDefault != nullptr) *usedDefault = true;
        } else if (bytes <= 0xFF) {
            if (!sink.Fits(1)) return noRoom;
            sink.Put(static_cast<unsigned char>(bytes));
        } else {
            if (!sink.Fits(2)) return noRoom;
            sink.Put(static_cast<unsigned char>(bytes >> 8));
            sink.Put(static_cast<unsigned char>(bytes & 0xFF));
        }
    }
    return sink.Count();
}

}  // namespace platform::detail
