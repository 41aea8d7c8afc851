// A decoder for ZSoft PCX pictures, RLE-compressed or plain: 1, 2, 4 and 8 bits of palette index
// in one plane, 1 bit in two to four planes (the EGA layout), and 24 or 32 bits in three or four
// planes of 8 bits. Shared by the toolkit backends; knows no GUI library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolkit {

// Larger pictures are refused: 64 megapixels is a 256 MiB picture in memory.
constexpr std::size_t maxPcxPixels = std::size_t{64} << 20;

// Decoded pixels, rows top-down, each pixel 0xAARRGGBB (alpha always 0xFF).
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

// False for anything malformed, truncated, too large or of an unsupported layout; nothing is
// allocated for a picture the data cannot hold.
bool DecodePcx(const unsigned char* data, std::size_t size, Pixels& out);

}  // namespace toolkit
