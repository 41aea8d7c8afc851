// Decoding of the picture box's pictures with the Windows Imaging Component: BMP, JPEG, PNG, GIF
// (every frame, composed as a viewer shows it, with its delay), icons and cursors; PCX with the
// toolkit's own decoder. The kind of picture is told by its signature only (picture_kind.h).
#pragma once

#include "app/toolkit/picture_kind.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolkit::win32 {

// One full picture of the animation: width * height premultiplied BGRA pixels, top row first.
struct PictureFrame {
    std::vector<std::uint32_t> pixels;
    int delay = 0;  // milliseconds this frame stays up; 0 for a still picture
};

struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<PictureFrame> frames;  // empty when the data holds no picture
};

// Every kind but PCX and None; gives an empty picture on any failure. COM must be initialised.
DecodedPicture DecodeWithWic(const unsigned char* data, std::size_t size, PictureKind kind);

// Any kind, sniffed from the data; an empty picture for data of no known kind or bad data.
DecodedPicture DecodePicture(const unsigned char* data, std::size_t size);

// The picture scaled to width x height (WIC's Fant filter), frame by frame.
DecodedPicture ScalePicture(const DecodedPicture& picture, int width, int height);

}  // namespace toolkit::win32
