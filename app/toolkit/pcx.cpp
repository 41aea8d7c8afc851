#include "app/toolkit/pcx.h"

namespace toolkit {
namespace {

constexpr std::size_t kHeaderBytes = 128;
// The 256-colour palette follows the image data: one marker byte and 256 RGB triples.
constexpr std::size_t kPaletteBytes = 769;
constexpr unsigned char kPaletteMarker = 0x0C;
// Larger sides or areas are no picture a user loads here; they would only cost memory.
constexpr int kMaxSide = 32768;
constexpr std::size_t kMaxPixels = std::size_t{1} << 27;
// Lines are padded to an even length; allow a little more, never a multiple of the width.
constexpr int kMaxLinePadding = 16;
// One RLE pair (2 bytes) expands to at most 63 bytes.
constexpr std::size_t kMaxRunBytes = 63;

struct Header {
    int width = 0;
    int height = 0;
    int bitsPerPlane = 0;
    int planes = 0;
    int bytesPerLine = 0;
    bool rle = false;
};

int Word(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}

bool ReadHeader(const unsigned char* data, std::size_t size, Header& header) {
    if (size < kHeaderBytes || data[0] != 0x0A || data[2] > 1) return false;
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
    if (header.width > kMaxSide || header.height > kMaxSide) return false;
    if (std::size_t(header.width) * std::size_t(header.height) > kMaxPixels) return false;
    const bool paletted = header.bitsPerPlane == 8 && header.planes == 1;
    const bool trueColour = header.bitsPerPlane == 8 && header.planes == 3;
    if (!paletted && !trueColour) return false;
    return header.bytesPerLine >= header.width &&
           header.bytesPerLine <= header.width + kMaxLinePadding;
}

// Whether the data after the header can possibly fill `needed` bytes: a file claiming a picture
// far larger than it could hold is refused before anything is allocated.
bool CanHold(std::size_t dataBytes, bool rle, std::size_t needed) {
    return needed <= (rle ? dataBytes / 2 * kMaxRunBytes : dataBytes);
}

// Expands the RLE (or plain) stream into exactly `out.size()` bytes; false when data runs out.
bool Expand(const unsigned char* data, std::size_t size, bool rle,
            std::vector<unsigned char>& out) {
    std::size_t in = 0;
    std::size_t done = 0;
    while (done < out.size()) {
        if (in >= size) return false;
        unsigned char value = data[in++];
        std::size_t count = 1;
        if (rle && (value & 0xC0) == 0xC0) {
            if (in >= size) return false;
            count = value & 0x3F;
            value = data[in++];
        }
        for (; count > 0 && done < out.size(); --count)
            out[done++] = value;
    }
    return true;
}

// The palette at the end of an 8-bit picture; a grey ramp when the file has none.
std::vector<std::uint32_t> Palette(const unsigned char* data, std::size_t size) {
    std::vector<std::uint32_t> palette(256);
    const bool present =
        size >= kHeaderBytes + kPaletteBytes && data[size - kPaletteBytes] == kPaletteMarker;
    for (std::uint32_t i = 0; i < 256; ++i) {
        if (!present) {
            palette[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
            continue;
        }
        const unsigned char* rgb = data + size - kPaletteBytes + 1 + 3 * i;
        palette[i] =
            0xFF000000u | (std::uint32_t(rgb[0]) << 16) | (std::uint32_t(rgb[1]) << 8) | rgb[2];
    }
    return palette;
}

}  // namespace

bool DecodePcx(const unsigned char* data, std::size_t size, Pixels& out) {
    Header header;
    if (data == nullptr || !ReadHeader(data, size, header)) return false;
    const std::size_t lineBytes = std::size_t(header.bytesPerLine) * header.planes;
    if (!CanHold(size - kHeaderBytes, header.rle, lineBytes * header.height)) return false;
    std::vector<unsigned char> planes(lineBytes * header.height);
    if (!Expand(data + kHeaderBytes, size - kHeaderBytes, header.rle, planes)) return false;

    out.width = header.width;
    out.height = header.height;
    out.argb.assign(std::size_t(header.width) * header.height, 0xFF000000u);
    const std::vector<std::uint32_t> palette =
        header.planes == 1 ? Palette(data, size) : std::vector<std::uint32_t>();
    for (int y = 0; y < header.height; ++y) {
        const unsigned char* line = planes.data() + lineBytes * y;
        std::uint32_t* row = out.argb.data() + std::size_t(header.width) * y;
        for (int x = 0; x < header.width; ++x) {
            if (header.planes == 1) {
                row[x] = palette[line[x]];
                continue;
            }
            const std::uint32_t r = line[x];
            const std::uint32_t g = line[header.bytesPerLine + x];
            const std::uint32_t b = line[2 * header.bytesPerLine + x];
            row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}

}  // namespace toolkit
