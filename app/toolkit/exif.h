// The EXIF orientation of a JPEG, read from its APP1 segment: for decoders that do not give it
// (Wine's Windows Imaging Component has no metadata reader for JPEG). Knows no GUI library.
#pragma once

#include <cstddef>

namespace toolkit {

// 1 to 8 as the EXIF orientation tag says (1: upright as stored; 6: to be turned right; 8: to be
// turned left; 2, 4, 5 and 7 mirrored); 0 when the data holds no such tag or is malformed.
int ExifOrientation(const unsigned char* data, std::size_t size);

}  // namespace toolkit
