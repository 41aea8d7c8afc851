#include "service/picture.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <memory>

namespace service {
namespace {

struct PixFree {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixFree>;

const l_uint8* Bytes(std::string_view data) {
    return reinterpret_cast<const l_uint8*>(data.data());
}

// libjpeg decodes at 1/2, 1/4 or 1/8 for almost nothing.
int JpegReduction(const ImageInfo& info, int maxSide) {
    long side = std::max(info.width, info.height);
    int reduction = 1;
    while (reduction < 8 && side / (reduction * 2) >= maxSide)
        reduction *= 2;
    return reduction;
}

PixPtr Decode(std::string_view data, const ImageInfo& info, int maxSide) {
    if (info.kind != ImageKind::Jpeg) return PixPtr(pixReadMem(Bytes(data), data.size()));
    l_int32 warnings = 0;
    PixPtr pix(
        pixReadMemJpeg(Bytes(data), data.size(), 0, JpegReduction(info, maxSide), &warnings, 0));
    // libjpeg warns (and fills in grey) when the data ends early or is damaged.
    if (warnings > 0) return nullptr;
    return pix;
}

}  // namespace

void SilenceImageLibrary() {
    setMsgSeverity(L_SEVERITY_NONE);
}

std::optional<RgbImage> DecodePicture(std::string_view data, const ImageInfo& info, int maxSide) {
    PixPtr pix = Decode(data, info, maxSide);
    if (!pix) return std::nullopt;
    if (pixGetSpp(pix.get()) == 4) {  // transparent parts count as white
        PixPtr blended(pixAlphaBlendUniform(pix.get(), 0xFFFFFF00));
        if (!blended) return std::nullopt;
        pix = std::move(blended);
    }
    PixPtr rgb(pixConvertTo32(pix.get()));
    if (!rgb) return std::nullopt;
    // Kinds decoded whole are brought down here, before the copy and all later work.
    int side = std::max(pixGetWidth(rgb.get()), pixGetHeight(rgb.get()));
    if (side > 2 * maxSide) {
        float factor = float(maxSide) / side;
        PixPtr smaller(pixScaleAreaMap(rgb.get(), factor, factor));
        if (!smaller) return std::nullopt;
        rgb = std::move(smaller);
    }
    RgbImage image;
    image.width = pixGetWidth(rgb.get());
    image.height = pixGetHeight(rgb.get());
    image.pixels.resize(size_t(image.width) * image.height * 3);
    const l_uint32* data32 = pixGetData(rgb.get());
    int wordsPerLine = pixGetWpl(rgb.get());
    uint8_t* out = image.pixels.data();
    for (int y = 0; y < image.height; ++y) {
        const l_uint32* line = data32 + size_t(y) * wordsPerLine;
        for (int x = 0; x < image.width; ++x) {
            l_uint32 word = line[x];  // red in the top byte
            *out++ = static_cast<uint8_t>(word >> 24);
            *out++ = static_cast<uint8_t>(word >> 16);
            *out++ = static_cast<uint8_t>(word >> 8);
        }
    }
    return image;
}

}  // namespace service
