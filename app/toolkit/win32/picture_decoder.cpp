#include "app/toolkit/win32/picture_decoder.h"

#include "app/toolkit/pcx.h"
#include "app/toolkit/win32/com.h"

#include <wincodec.h>
#include <windows.h>

#include <algorithm>

namespace toolkit::win32 {
namespace {

// Decoding stops before the frames would take more memory than this: a hostile GIF can declare
// thousands of full-screen frames.
constexpr std::size_t maxFrameBytes = 256u << 20;
// GIF delays are in hundredths of a second; 0 or 1 means "as fast as possible", which viewers
// show as 100 ms so that such files do not spin the processor.
constexpr int gifDelayUnit = 10;
constexpr int minGifDelay = 2;
constexpr int fastGifDelay = 100;
// GIF disposal methods (what happens to a frame's area before the next frame is drawn).
constexpr int disposeToBackground = 2;
constexpr int disposeToPrevious = 3;

ComPtr<IWICImagingFactory> CreateFactory() {
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(factory.Put()));
    return factory;
}

ComPtr<IWICBitmapDecoder> CreateDecoder(IWICImagingFactory* factory, const BYTE* data,
                                        std::size_t size) {
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateStream(stream.Put()))) return decoder;
    // The stream reads the caller's bytes in place; they outlive the decoder.
    if (FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size)))) return decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                                decoder.Put())))
        decoder.Reset();
    return decoder;
}

// The frame's pixels as premultiplied BGRA.
bool ReadPixels(IWICBitmapSource* source, UINT& width, UINT& height,
                std::vector<std::uint32_t>& pixels) {
    ComPtr<IWICBitmapSource> converted;
    if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, source, converted.Put())))
        return false;
    if (FAILED(converted->GetSize(&width, &height)) || width == 0 || height == 0) return false;
    if (std::size_t(width) * height * 4 > maxFrameBytes) return false;
    pixels.assign(std::size_t(width) * height, 0);
    UINT stride = width * 4;
    return SUCCEEDED(converted->CopyPixels(nullptr, stride, stride * height,
                                           reinterpret_cast<BYTE*>(pixels.data())));
}

// A metadata number such as "/imgdesc/Left"; fallback when absent.
int ReadNumber(IWICMetadataQueryReader* reader, const wchar_t* name, int fallback) {
    if (!reader) return fallback;
    PROPVARIANT value;
    PropVariantInit(&value);
    int result = fallback;
    if (SUCCEEDED(reader->GetMetadataByName(name, &value))) {
        if (value.vt == VT_UI1) result = value.bVal;
        if (value.vt == VT_UI2) result = value.uiVal;
        if (value.vt == VT_UI4) result = int(value.ulVal);
    }
    PropVariantClear(&value);
    return result;
}

ComPtr<IWICMetadataQueryReader> QueryReader(IWICBitmapFrameDecode* frame) {
    ComPtr<IWICMetadataQueryReader> reader;
    frame->GetMetadataQueryReader(reader.Put());
    return reader;
}

// Draws a premultiplied frame over the canvas (source over), clipped to it.
void DrawOver(std::vector<std::uint32_t>& canvas, int canvasWidth, int canvasHeight,
              const std::vector<std::uint32_t>& pixels, int width, int height, int left, int top) {
    for (int y = std::max(0, -top); y < height && top + y < canvasHeight; ++y) {
        for (int x = std::max(0, -left); x < width && left + x < canvasWidth; ++x) {
            std::uint32_t source = pixels[std::size_t(y) * width + x];
            std::uint32_t alpha = source >> 24;
            std::uint32_t& target = canvas[std::size_t(top + y) * canvasWidth + left + x];
            if (alpha == 255) {
                target = source;
            } else if (alpha != 0) {
                std::uint32_t result = 0;
                for (int shift = 0; shift < 32; shift += 8) {
                    std::uint32_t s = (source >> shift) & 0xFF, t = (target >> shift) & 0xFF;
                    result |= std::min<std::uint32_t>(255, s + t * (255 - alpha) / 255) << shift;
                }
                target = result;
            }
        }
    }
}

void ClearRect(std::vector<std::uint32_t>& canvas, int canvasWidth, int canvasHeight, int left,
               int top, int width, int height) {
    for (int y = std::max(0, top); y < top + height && y < canvasHeight; ++y)
        for (int x = std::max(0, left); x < left + width && x < canvasWidth; ++x)
            canvas[std::size_t(y) * canvasWidth + x] = 0;
}

// Every GIF frame composed onto the logical screen, honouring offsets, disposal and delays.
DecodedPicture ComposeGif(IWICBitmapDecoder* decoder, UINT frameCount) {
    DecodedPicture picture;
    ComPtr<IWICMetadataQueryReader> global;
    decoder->GetMetadataQueryReader(global.Put());
    picture.width = ReadNumber(global.Get(), L"/logscrdesc/Width", 0);
    picture.height = ReadNumber(global.Get(), L"/logscrdesc/Height", 0);

    std::vector<std::uint32_t> canvas, saved;
    struct {
        int left = 0, top = 0, width = 0, height = 0, disposal = 0;
    } previous;
    for (UINT index = 0; index < frameCount; ++index) {
        ComPtr<IWICBitmapFrameDecode> frame;
        if (FAILED(decoder->GetFrame(index, frame.Put()))) break;
        UINT width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        if (!ReadPixels(frame.Get(), width, height, pixels)) break;
        ComPtr<IWICMetadataQueryReader> reader = QueryReader(frame.Get());
        if (index == 0 && (picture.width <= 0 || picture.height <= 0)) {
            picture.width = int(width);
            picture.height = int(height);
        }
        std::size_t canvasPixels = std::size_t(picture.width) * picture.height;
        if (canvasPixels * 4 * (picture.frames.size() + 1) > maxFrameBytes) break;
        if (canvas.empty()) canvas.assign(canvasPixels, 0);

        if (previous.disposal == disposeToBackground)
            ClearRect(canvas, picture.width, picture.height, previous.left, previous.top,
                      previous.width, previous.height);
        if (previous.disposal == disposeToPrevious && !saved.empty()) canvas = saved;

        int left = ReadNumber(reader.Get(), L"/imgdesc/Left", 0);
        int top = ReadNumber(reader.Get(), L"/imgdesc/Top", 0);
        int disposal = ReadNumber(reader.Get(), L"/grctlext/Disposal", 0);
        int delay = ReadNumber(reader.Get(), L"/grctlext/Delay", 0);
        if (disposal == disposeToPrevious) saved = canvas;
        DrawOver(canvas, picture.width, picture.height, pixels, int(width), int(height), left, top);
        previous = {left, top, int(width), int(height), disposal};

        int milliseconds = delay < minGifDelay ? fastGifDelay : delay * gifDelayUnit;
        picture.frames.push_back({canvas, frameCount > 1 ? milliseconds : 0});
    }
    return picture;
}

// Icons hold several sizes of one picture: the largest is shown.
DecodedPicture LargestFrame(IWICBitmapDecoder* decoder, UINT frameCount) {
    DecodedPicture picture;
    for (UINT index = 0; index < frameCount; ++index) {
        ComPtr<IWICBitmapFrameDecode> frame;
        if (FAILED(decoder->GetFrame(index, frame.Put()))) continue;
        UINT width = 0, height = 0;
        if (FAILED(frame->GetSize(&width, &height))) continue;
        if (std::size_t(width) * height <= std::size_t(picture.width) * picture.height) continue;
        std::vector<std::uint32_t> pixels;
        if (!ReadPixels(frame.Get(), width, height, pixels)) continue;
        picture.width = int(width);
        picture.height = int(height);
        picture.frames.assign(1, {std::move(pixels), 0});
    }
    return picture;
}

}  // namespace

DecodedPicture DecodeWithWic(const unsigned char* data, std::size_t size, PictureKind kind) {
    if (kind == PictureKind::None || kind == PictureKind::Pcx) return {};
    std::vector<BYTE> bytes(data, data + size);
    // A cursor file is an icon file with hot spots in place of colour counts: read as an icon.
    if (kind == PictureKind::Cursor) bytes[2] = 1;

    ComPtr<IWICImagingFactory> factory = CreateFactory();
    if (!factory) return {};
    ComPtr<IWICBitmapDecoder> decoder = CreateDecoder(factory.Get(), bytes.data(), bytes.size());
    UINT frameCount = 0;
    if (!decoder || FAILED(decoder->GetFrameCount(&frameCount)) || frameCount == 0) return {};
    if (kind == PictureKind::Gif) return ComposeGif(decoder.Get(), frameCount);
    if (kind == PictureKind::Icon || kind == PictureKind::Cursor)
        return LargestFrame(decoder.Get(), frameCount);
    return LargestFrame(decoder.Get(), 1);
}

DecodedPicture DecodePicture(const unsigned char* data, std::size_t size) {
    PictureKind kind = SniffPictureKind(data, size);
    if (kind != PictureKind::Pcx) return DecodeWithWic(data, size, kind);
    Pixels pixels;
    if (!DecodePcx(data, size, pixels) || pixels.width <= 0 || pixels.height <= 0) return {};
    // 0xAARRGGBB words with alpha 0xFF are premultiplied BGRA already.
    return {pixels.width, pixels.height, {{std::move(pixels.argb), 0}}};
}

DecodedPicture ScalePicture(const DecodedPicture& picture, int width, int height) {
    ComPtr<IWICImagingFactory> factory = CreateFactory();
    if (!factory || width <= 0 || height <= 0) return {};
    DecodedPicture scaled{width, height, {}};
    UINT sourceStride = UINT(picture.width) * 4, stride = UINT(width) * 4;
    for (const PictureFrame& frame : picture.frames) {
        ComPtr<IWICBitmap> bitmap;
        auto* source = reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(frame.pixels.data()));
        if (FAILED(factory->CreateBitmapFromMemory(
                UINT(picture.width), UINT(picture.height), GUID_WICPixelFormat32bppPBGRA,
                sourceStride, sourceStride * UINT(picture.height), source, bitmap.Put())))
            return {};
        ComPtr<IWICBitmapScaler> scaler;
        if (FAILED(factory->CreateBitmapScaler(scaler.Put())) ||
            FAILED(scaler->Initialize(bitmap.Get(), UINT(width), UINT(height),
                                      WICBitmapInterpolationModeFant)))
            return {};
        PictureFrame result{std::vector<std::uint32_t>(std::size_t(width) * height), frame.delay};
        if (FAILED(scaler->CopyPixels(nullptr, stride, stride * UINT(height),
                                      reinterpret_cast<BYTE*>(result.pixels.data()))))
            return {};
        scaled.frames.push_back(std::move(result));
    }
    return scaled;
}

}  // namespace toolkit::win32
