#include "app/toolkit/pcx.h"

#include <algorithm>

namespace toolkit {
namespace {

constexpr std::size_t headerBytes = 128;
// The 16-colour palette inside the header, for pictures of 2 to 4 bits per pixel.
constexpr std::size_t headerPaletteAt = 16;
// The 256-colour palette follows the image data: one marker byte and 256 RGB triples.
constexpr std::size_t paletteBytes = 769;
constexpr unsigned char paletteMarker = 0x0C;
// Lines are padded to an even length; allow a little more, never a multiple of the width.
constexpr int maxLinePadding = 16;
// One RLE pair (2 bytes) expands to at most 63 bytes.
constexpr std::size_t maxRunBytes = 63;

// The standard EGA colours, for headers that carry no palette of their own.
constexpr std::uint32_t egaColours[16] = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

struct Header {
    int width = 0;
    int height = 0;
    int bitsPerPlane = 0;
    int planes = 0;
    int bytesPerLine = 0;
    bool rle = false;
    // Palette index bits per pixel (bits x planes), or 0 for true colour.
    int indexBits() const { return bitsPerPlane < 8 || planes == 1 ? bitsPerPlane * planes : 0; }
};

int Word(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}

// Index pictures: 1, 2, 4 or 8 bits in one plane, or 1 bit in 2 to 4 planes; true colour: three
// or four planes of 8 bits (the fourth, alpha, is not shown).
bool KnownLayout(int bits, int planes) {
    if (planes == 1) return bits == 1 || bits == 2 || bits == 4 || bits == 8;
    if (bits == 1) return planes >= 2 && planes <= 4;
    return bits == 8 && (planes == 3 || planes == 4);
}

bool ReadHeader(const unsigned char* data, std::size_t size, Header& header) {
    if (size < headerBytes || data[0] != 0x0A || data[2] > 1) return false;
    const int xMin = Word(data + 4);
    const int yMin = Word(data + 6);
    const int xMax = Word(data + 8);
    const int yMax = Word(data + 10);
    if (xMax < xMin || yMax < yMin) return false;
    header.width = xMax - xMin + 1;
    header.height = yMax - yMin + 1;
    header.bitsPerPlane = data[3];
    header.planes = data[65];
    header.bytesPerLine = Word(data + 66);
    header.rle = data[2] == 1;
    if (!KnownLayout(header.bitsPerPlane, header.planes)) return false;
    if (std::size_t(header.width) * std::size_t(header.height) > maxPcxPixels) return false;
    const int neededPerLine = (header.width * header.bitsPerPlane + 7) / 8;
    return header.bytesPerLine >= neededPerLine &&
           header.bytesPerLine <= neededPerLine + maxLinePadding;
}

// Whether the data after the header can possibly fill `needed` bytes: a file claiming a picture
// far larger than it could hold is refused before anything is allocated.
bool CanHold(std::size_t dataBytes, bool rle, std::size_t needed) {
    return needed <= (rle ? dataBytes / 2 * maxRunBytes : dataBytes);
}

// The RLE (or plain) stream, line by line; a run may go on into the next line.
class Expander {
  public:
    Expander(const unsigned char* data, std::size_t size, bool rle)
        : data_(data), size_(size), rle_(rle) {}

    // Fills the line; false when the data runs out first.
    bool Fill(std::vector<unsigned char>& line) {
        std::size_t done = 0;
        while (done < line.size()) {
            if (runLeft_ == 0 && !NextRun()) return false;
            const std::size_t count = std::min(runLeft_, line.size() - done);
            std::fill_n(line.begin() + std::ptrdiff_t(done), count, runValue_);
            done += count;
            runLeft_ -= count;
        }
        return true;
    }

  private:
    bool NextRun() {
        if (in_ >= size_) return false;
        runValue_ = data_[in_++];
        runLeft_ = 1;
        if (rle_ && (runValue_ & 0xC0) == 0xC0) {
            if (in_ >= size_) return false;
            runLeft_ = runValue_ & 0x3F;
            runValue_ = data_[in_++];
        }
        return true;
    }

    const unsigned char* data_;
    std::size_t size_;
    bool rle_;
    std::size_t in_ = 0;
    unsigned char runValue_ = 0;
    std::size_t runLeft_ = 0;
};

std::uint32_t Rgb(const unsigned char* rgb) {
    return 0xFF000000u | (std::uint32_t(rgb[0]) << 16) | (std::uint32_t(rgb[1]) << 8) | rgb[2];
}

// 8 bits: the palette at the end of the file, or a grey ramp when it has none. 1 bit: the
// header's first two colours, black and white when they are the same. 2 to 4 bits: the header's
// 16 colours, the EGA ones when the header holds none.
std::vector<std::uint32_t> Palette(const unsigned char* data, std::size_t size, int indexBits) {
    std::vector<std::uint32_t> palette(std::size_t{1} << indexBits);
    if (indexBits == 8) {
        const bool present =
            size >= headerBytes + paletteBytes && data[size - paletteBytes] == paletteMarker;
        for (std::uint32_t i = 0; i < 256; ++i)
            palette[i] = present ? Rgb(data + size - paletteBytes + 1 + 3 * i)
                                 : 0xFF000000u | (i << 16) | (i << 8) | i;
        return palette;
    }
    const unsigned char* header = data + headerPaletteAt;
    if (indexBits == 1) {
        const bool same = std::equal(header, header + 3, header + 3);
        palette[0] = same ? 0xFF000000u : Rgb(header);
        palette[1] = same ? 0xFFFFFFFFu : Rgb(header + 3);
        return palette;
    }
    const bool none = std::all_of(header, header + 48, [](unsigned char c) { return c == 0; });
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = none ? 0xFF000000u | egaColours[i] : Rgb(header + 3 * i);
    return palette;
}

// The palette index of pixel x of a line of `planes` planes of `bits` bits each.
unsigned IndexAt(const unsigned char* line, int bytesPerLine, int bits, int planes, int x) {
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    const unsigned mask = (1u << bits) - 1;
    unsigned index = 0;
    for (int plane = 0; plane < planes; ++plane) {
        const unsigned char byte =
            line[std::size_t(plane) * bytesPerLine + std::size_t(x / perByte)];
        index |= ((byte >> shift) & mask) << (plane * bits);
    }
    return index;
}

}  // namespace

bool DecodePcx(const unsigned char* data, std::size_t size, Pixels& out) {
    Header header;
    if (data == nullptr || !ReadHeader(data, size, header)) return false;
    const std::size_t lineBytes = std::size_t(header.bytesPerLine) * header.planes;
    if (!CanHold(size - headerBytes, header.rle, lineBytes * header.height)) return false;

    const int indexBits = header.indexBits();
    const std::vector<std::uint32_t> palette =
        indexBits > 0 ? Palette(data, size, indexBits) : std::vector<std::uint32_t>();
    std::vector<unsigned char> line(lineBytes);
    std::vector<std::uint32_t> argb(std::size_t(header.width) * header.height);
    Expander expander(data + headerBytes, size - headerBytes, header.rle);
    for (int y = 0; y < header.height; ++y) {
        if (!expander.Fill(line)) return false;
        std::uint32_t* row = argb.data() + std::size_t(header.width) * y;
        for (int x = 0; x < header.width; ++x) {
            if (indexBits > 0) {
                row[x] = palette[IndexAt(line.data(), header.bytesPerLine, header.bitsPerPlane,
                                         header.planes, x)];
                continue;
            }
            const std::size_t at = std::size_t(x);
            row[x] = 0xFF000000u | (std::uint32_t(line[at]) << 16) |
                     (std::uint32_t(line[header.bytesPerLine + at]) << 8) |
                     line[2 * std::size_t(header.bytesPerLine) + at];
        }
    }
    out.width = header.width;
    out.height = header.height;
    out.argb = std::move(argb);
    return true;
}

}  // namespace toolkit
