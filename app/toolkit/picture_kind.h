// Recognises the kind of a picture from the first bytes of its data, never from a file name.
#pragma once

#include <cstddef>

namespace toolkit {

enum class PictureKind { None, Bmp, Jpeg, Png, Gif, Icon, Cursor, Pcx };

// Shorter than minPictureBytes, or of no kind known here: None.
PictureKind SniffPictureKind(const unsigned char* data, std::size_t size);

}  // namespace toolkit
