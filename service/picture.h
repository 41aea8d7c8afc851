// Decoding a picture into upright RGB pixels (OpenCV does PNG, Leptonica the other formats).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "service/image_info.h"

namespace service {

// Three bytes a pixel (red, green, blue), rows top to bottom without padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    const uint8_t* At(int x, int y) const { return &pixels[(size_t(y) * width + x) * 3]; }
};

// Turns off Leptonica's messages on standard error; the service logs one line a request.
void SilenceImageLibrary();

// Decodes data, whose kind and header dimensions were checked before. Large JPEG pictures
// are decoded at a reduced scale, others decoded whole and then scaled down, so that
// neither side far exceeds maxSide; then turned upright as info.orientation says. Nothing
// when the data is truncated or cannot be decoded.
std::optional<RgbImage> DecodePicture(std::string_view data, const ImageInfo& info, int maxSide);

}  // namespace service
