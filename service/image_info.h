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
    // How the stored pixels are turned for viewing: the EXIF orientation of JPEG pictures
    // (1 upright, 3 upside down, 6 and 8 turned a quarter, 2, 4, 5 and 7 mirrored).
    int orientation = 1;
};

// Recognises the kind by its signature and reads the dimensions from the header.
ImageInfo ReadImageInfo(std::string_view data);

}  // namespace service
