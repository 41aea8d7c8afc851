#include "app/toolkit/exif.h"

#include <cstdint>
#include <cstring>

namespace toolkit {
namespace {

constexpr unsigned char startOfScan = 0xDA;
constexpr unsigned char endOfImage = 0xD9;
constexpr unsigned char app1Marker = 0xE1;
constexpr std::uint16_t orientationTag = 0x0112;
constexpr std::uint16_t shortType = 3;
constexpr std::size_t ifdEntryBytes = 12;

// Reads numbers of a TIFF block in its own byte order, within its bounds.
class Tiff {
  public:
    Tiff(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    bool Init() {
        if (size_ < 8) return false;
        if (std::memcmp(data_, "II", 2) == 0)
            little_ = true;
        else if (std::memcmp(data_, "MM", 2) != 0)
            return false;
        return Read16(2) == 42;
    }
    bool Fits(std::size_t at, std::size_t n) const { return at <= size_ && n <= size_ - at; }
    std::uint32_t Read16(std::size_t at) const {
        if (!Fits(at, 2)) return 0;
        return little_ ? data_[at] | (data_[at + 1] << 8) : (data_[at] << 8) | data_[at + 1];
    }
    std::uint32_t Read32(std::size_t at) const {
        const std::uint32_t a = Read16(at), b = Read16(at + 2);
        return little_ ? a | (b << 16) : (a << 16) | b;
    }

  private:
    const unsigned char* data_;
    std::size_t size_;
    bool little_ = false;
};

// The orientation tag of the first image directory of an "Exif\0\0" APP1 payload.
int OrientationIn(const unsigned char* payload, std::size_t size) {
    if (size < 6 || std::memcmp(payload, "Exif\0\0", 6) != 0) return 0;
    Tiff tiff(payload + 6, size - 6);
    if (!tiff.Init()) return 0;
    const std::size_t ifd = tiff.Read32(4);
    if (!tiff.Fits(ifd, 2)) return 0;
    const std::size_t count = tiff.Read16(ifd);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + i * ifdEntryBytes;
        if (!tiff.Fits(entry, ifdEntryBytes)) return 0;
        if (tiff.Read16(entry) != orientationTag) continue;
        if (tiff.Read16(entry + 2) != shortType || tiff.Read32(entry + 4) != 1) return 0;
        const std::uint32_t value = tiff.Read16(entry + 8);
        return value >= 1 && value <= 8 ? int(value) : 0;
    }
    return 0;
}

}  // namespace

int ExifOrientation(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    std::size_t at = 2;
    // Marker segments up to the scan: FF, the marker, a two-byte length that counts itself.
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 0;
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == startOfScan || marker == endOfImage) return 0;
        const std::size_t length = (std::size_t(data[at + 2]) << 8) | data[at + 3];
        if (length < 2 || length > size - at - 2) return 0;
        if (marker == app1Marker) {
            const int orientation = OrientationIn(data + at + 4, length - 2);
            if (orientation != 0) return orientation;
        }
        at += 2 + length;
    }
    return 0;
}

}  // namespace toolkit
