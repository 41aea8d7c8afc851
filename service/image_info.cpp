#include "service/image_info.h"

#include <cstdint>
#include <cstdlib>

namespace service {
namespace {

uint32_t Byte(std::string_view d, size_t i) {
    return static_cast<unsigned char>(d[i]);
}
uint32_t Be16(std::string_view d, size_t i) {
    return Byte(d, i) << 8 | Byte(d, i + 1);
}
uint32_t Le16(std::string_view d, size_t i) {
    return Byte(d, i) | Byte(d, i + 1) << 8;
}
uint32_t Be32(std::string_view d, size_t i) {
    return Be16(d, i) << 16 | Be16(d, i + 2);
}
uint32_t Le32(std::string_view d, size_t i) {
    return Le16(d, i) | Le16(d, i + 2) << 16;
}
uint32_t Le24(std::string_view d, size_t i) {
    return Le16(d, i) | Byte(d, i + 2) << 16;
}

bool StartsWith(std::string_view d, std::string_view prefix) {
    return d.substr(0, prefix.size()) == prefix;
}

ImageInfo Png(std::string_view d) {
    ImageInfo info{ImageKind::Png};
    // Signature, then the IHDR chunk: length, "IHDR", width, height.
    if (d.size() < 24 || d.substr(12, 4) != "IHDR") return info;
    info.width = Be32(d, 16);
    info.height = Be32(d, 20);
    return info;
}

ImageInfo Gif(std::string_view d) {
    ImageInfo info{ImageKind::Gif};
    if (d.size() < 10) return info;
    info.width = Le16(d, 6);  // logical screen size
    info.height = Le16(d, 8);
    return info;
}

ImageInfo Bmp(std::string_view d) {
    ImageInfo info{ImageKind::Bmp};
    if (d.size() < 26) return info;
    uint32_t headerSize = Le32(d, 14);
    if (headerSize == 12) {  // OS/2 core header: 16-bit sizes
        info.width = Le16(d, 18);
        info.height = Le16(d, 20);
    } else if (headerSize >= 40) {
        info.width = static_cast<int32_t>(Le32(d, 18));
        info.height = std::labs(static_cast<int32_t>(Le32(d, 22)));  // negative: top-down
    }
    return info;
}

// The orientation tag (0x0112) of an EXIF block: "Exif", two zero bytes, then a TIFF
// header and its first directory. 1 when absent or malformed.
int ExifOrientation(std::string_view exif) {
    if (exif.size() < 14 || exif.substr(0, 6) != std::string_view("Exif\0\0", 6)) return 1;
    std::string_view tiff = exif.substr(6);
    bool little = tiff.substr(0, 2) == "II";
    if (!little && tiff.substr(0, 2) != "MM") return 1;
    auto u16 = [&](size_t i) { return little ? Le16(tiff, i) : Be16(tiff, i); };
    auto u32 = [&](size_t i) { return little ? Le32(tiff, i) : Be32(tiff, i); };
    if (u16(2) != 42) return 1;
    size_t directory = u32(4);
    if (directory > tiff.size() || tiff.size() - directory < 2) return 1;
    size_t entries = u16(directory);
    for (size_t e = 0; e < entries; ++e) {
        size_t at = directory + 2 + e * 12;
        if (at + 12 > tiff.size()) return 1;
        if (u16(at) != 0x0112) continue;
        uint32_t value = u16(at + 8);  // a SHORT, first in the value field
        return u16(at + 2) == 3 && value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

// Walks the marker segments up to the first start-of-frame, which holds the size; an EXIF
// block on the way gives the orientation.
ImageInfo Jpeg(std::string_view d) {
    ImageInfo info{ImageKind::Jpeg};
    size_t i = 2;
    while (i + 4 <= d.size()) {
        if (Byte(d, i) != 0xFF) return info;
        uint32_t marker = Byte(d, i + 1);
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length field
            i += 2;
            continue;
        }
        uint32_t length = Be16(d, i + 2);
        if (length < 2) return info;
        bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (i + 9 > d.size()) return info;
            info.height = Be16(d, i + 5);
            info.width = Be16(d, i + 7);
            return info;
        }
        if (marker == 0xD9 || marker == 0xDA) return info;  // end, or scan before any frame
        if (marker == 0xE1 && i + 2 + length <= d.size()) {
            int orientation = ExifOrientation(d.substr(i + 4, length - 2));
            if (orientation != 1) info.orientation = orientation;
        }
        i += 2 + length;
    }
    return info;
}

ImageInfo Webp(std::string_view d) {
    ImageInfo info{ImageKind::Webp};
    if (d.size() < 30) return info;
    std::string_view chunk = d.substr(12, 4);
    if (chunk == "VP8X") {  // canvas size minus one, 24 bits each
        info.width = Le24(d, 24) + 1;
        info.height = Le24(d, 27) + 1;
    } else if (chunk == "VP8 ") {  // key frame header: start code, then 14-bit sizes
        if (Byte(d, 23) != 0x9D || Byte(d, 24) != 0x01 || Byte(d, 25) != 0x2A) return info;
        info.width = Le16(d, 26) & 0x3FFF;
        info.height = Le16(d, 28) & 0x3FFF;
    } else if (chunk == "VP8L") {  // signature byte, then 14-bit sizes minus one
        if (Byte(d, 20) != 0x2F) return info;
        uint32_t bits = Le32(d, 21);
        info.width = (bits & 0x3FFF) + 1;
        info.height = ((bits >> 14) & 0x3FFF) + 1;
    }
    return info;
}

}  // namespace

ImageInfo ReadImageInfo(std::string_view d) {
    if (StartsWith(d, "\x89PNG\r\n\x1a\n")) return Png(d);
    if (StartsWith(d, "\xFF\xD8\xFF")) return Jpeg(d);
    if (StartsWith(d, "GIF87a") || StartsWith(d, "GIF89a")) return Gif(d);
    if (StartsWith(d, "BM")) return Bmp(d);
    if (StartsWith(d, "RIFF") && d.size() >= 12 && d.substr(8, 4) == "WEBP") return Webp(d);
    return {};
}

}  // namespace service
