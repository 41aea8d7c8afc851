// Picture kinds the service reads, and their dimensions taken from the file header alone,
// so that a picture is measured before anything is decoded.
#pragma once

#include <string_view>

namespace service {

enum class ImageKind { Unknown, Jpeg, Png, Gif, Bmp, Webp };

struct ImageInfo {
    ImageKind kind = ImageKind::Unknown;
    long width = 0;  // 0 when the header is cut short or malformed
    long height = 0;
};

// Recognises the kind by its signature and reads the dimensions from the header.
ImageInfo ReadImageInfo(std::string_view data);

}  // namespace service
