// A decoder for ZSoft PCX pictures: 8-bit with a 256-colour palette, and 24-bit (three planes),
// RLE-compressed or plain. Shared by the toolkit backends; knows no GUI library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolkit {

// Decoded pixels, rows top-down, each pixel 0xAARRGGBB (alpha always 0xFF).
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

// False for anything malformed, truncated, too large or of an unsupported layout.
bool DecodePcx(const unsigned char* data, std::size_t size, Pixels& out);

}  // namespace toolkit
