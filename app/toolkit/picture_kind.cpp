#include "app/toolkit/picture_kind.h"

#include <cstring>

namespace toolkit {
namespace {

// The longest signature tested below that every kind can be told by (GIF87a / GIF89a).
constexpr std::size_t minPictureBytes = 6;

bool StartsWith(const unsigned char* data, std::size_t size, const char* signature,
                std::size_t length) {
    return size >= length && std::memcmp(data, signature, length) == 0;
}

// ZSoft PCX: manufacturer 10, a known version, RLE or no encoding, 1/2/4/8 bits per plane.
bool IsPcx(const unsigned char* data) {
    const unsigned char version = data[1];
    const unsigned char encoding = data[2];
    const unsigned char bits = data[3];
    const bool knownVersion =
        version == 0 || version == 2 || version == 3 || version == 4 || version == 5;
    const bool knownBits = bits == 1 || bits == 2 || bits == 4 || bits == 8;
    return data[0] == 0x0A && knownVersion && encoding <= 1 && knownBits;
}

}  // namespace

PictureKind SniffPictureKind(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size < minPictureBytes) return PictureKind::None;
    if (StartsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) return PictureKind::Png;
    if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return PictureKind::Jpeg;
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6))
        return PictureKind::Gif;
    if (StartsWith(data, size, "BM", 2)) return PictureKind::Bmp;
    if (StartsWith(data, size, "\0\0\1\0", 4)) return PictureKind::Icon;
    if (StartsWith(data, size, "\0\0\2\0", 4)) return PictureKind::Cursor;
    if (IsPcx(data)) return PictureKind::Pcx;
    return PictureKind::None;
}

}  // namespace toolkit
