#include "service/picture.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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

// PNG through OpenCV, which decodes row by row into one buffer, where Leptonica holds
// libpng's copy and its own at once (an 8192 x 8192 picture: 200 MB instead of 470 MB).
// Large pictures are scaled down before their colours are converted; transparent parts
// count as white.
std::optional<RgbImage> DecodePng(std::string_view data, int maxSide) {
    cv::Mat bytes(1, int(data.size()), CV_8U, const_cast<char*>(data.data()));
    cv::Mat decoded;
    try {
        decoded = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    if (decoded.empty()) return std::nullopt;
    int side = std::max(decoded.cols, decoded.rows);
    if (side > 2 * maxSide) {
        double factor = double(maxSide) / side;
        cv::Mat smaller;
        cv::resize(decoded, smaller, cv::Size(), factor, factor, cv::INTER_AREA);
        decoded = smaller;
    }
    if (decoded.depth() == CV_16U) decoded.convertTo(decoded, CV_8U, 1 / 257.0);
    if (decoded.depth() != CV_8U) return std::nullopt;
    cv::Mat rgb;
    switch (decoded.channels()) {
        case 1:
            cv::cvtColor(decoded, rgb, cv::COLOR_GRAY2RGB);
            break;
        case 3:
            cv::cvtColor(decoded, rgb, cv::COLOR_BGR2RGB);
            break;
        case 4: {
            cv::Mat colour, alpha;
            cv::cvtColor(decoded, colour, cv::COLOR_BGRA2RGB);
            cv::extractChannel(decoded, alpha, 3);
            cv::cvtColor(alpha, alpha, cv::COLOR_GRAY2RGB);
            cv::Mat white(colour.size(), CV_8UC3, cv::Scalar::all(255));
            cv::Mat inverse = cv::Scalar::all(255) - alpha;
            cv::multiply(colour, alpha, colour, 1 / 255.0);
            cv::multiply(white, inverse, white, 1 / 255.0);
            rgb = colour + white;
            break;
        }
        default:
            return std::nullopt;
    }
    RgbImage image;
    image.width = rgb.cols;
    image.height = rgb.rows;
    image.pixels.assign(rgb.data, rgb.data + rgb.total() * 3);
    return image;
}

// Turns the pixels upright as the EXIF orientation says (phone photographs are stored as
// the sensor saw them).
void TurnUpright(RgbImage& image, int orientation) {
    if (orientation <= 1 || orientation > 8) return;
    cv::Mat stored(image.height, image.width, CV_8UC3, image.pixels.data());
    cv::Mat upright;
    switch (orientation) {
        case 2:
            cv::flip(stored, upright, 1);
            break;
        case 3:
            cv::rotate(stored, upright, cv::ROTATE_180);
            break;
        case 4:
            cv::flip(stored, upright, 0);
            break;
        case 5:
            cv::transpose(stored, upright);
            break;
        case 6:
            cv::rotate(stored, upright, cv::ROTATE_90_CLOCKWISE);
            break;
        case 7:
            cv::transpose(stored, upright);
            cv::flip(upright, upright, -1);
            break;
        case 8:
            cv::rotate(stored, upright, cv::ROTATE_90_COUNTERCLOCKWISE);
            break;
    }
    image.width = upright.cols;
    image.height = upright.rows;
    std::copy(upright.data, upright.data + image.pixels.size(), image.pixels.begin());
}

}  // namespace

void SilenceImageLibrary() {
    setMsgSeverity(L_SEVERITY_NONE);
}

std::optional<RgbImage> DecodePicture(std::string_view data, const ImageInfo& info, int maxSide) {
    if (info.kind == ImageKind::Png) return DecodePng(data, maxSide);
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
    TurnUpright(image, info.orientation);
    return image;
}

}  // namespace service
