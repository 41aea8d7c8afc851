#include "app/toolkit/win32/picture_decoder.h"

#include "app/toolkit/exif.h"
#include "app/toolkit/pcx.h"

#include <windows.h>

#include <algorithm>

namespace toolkit::win32 {
namespace {

// No canvas or decoded picture beyond the pixel cap of the PCX decoder (64 megapixels): a
// hostile GIF can declare a logical screen of 65535 x 65535.
constexpr std::size_t maxPixels = maxPcxPixels;
// GIF delays are in hundredths of a second; 0 or 1 means "as fast as possible", which viewers
// show as 100 ms so that such files do not spin the processor.
constexpr int gifDelayUnit = 10;
constexpr int minGifDelay = 2;
constexpr int fastGifDelay = 100;
// GIF disposal methods (what happens to a frame's area before the next frame is drawn).
constexpr int disposeToBackground = 2;
constexpr int disposeToPrevious = 3;
// The EXIF orientation tag (274) in a JPEG's APP1 segment.
constexpr wchar_t orientationQuery[] = L"/app1/ifd/{ushort=274}";

ComPtr<IWICImagingFactory> CreateFactory() {
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(factory.Put()));
    return factory;
}

// A stream that reads the caller's bytes in place; they outlive it.
ComPtr<IWICStream> MemoryStream(IWICImagingFactory* factory, const BYTE* data, std::size_t size) {
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size))))
        stream.Reset();
    return stream;
}

ComPtr<IWICBitmapDecoder> CreateDecoder(IWICImagingFactory* factory, IWICStream* stream) {
    ComPtr<IWICBitmapDecoder> decoder;
    if (!stream || FAILED(factory->CreateDecoderFromStream(
                       stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put())))
        decoder.Reset();
    return decoder;
}

// The source's pixels as premultiplied BGRA, at its own size.
Bitmap ReadPixels(IWICBitmapSource* source) {
    ComPtr<IWICBitmapSource> converted;
    if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, source, converted.Put())))
        return {};
    UINT width = 0, height = 0;
    if (FAILED(converted->GetSize(&width, &height)) || width == 0 || height == 0) return {};
    if (std::size_t(width) * height > maxPixels) return {};
    Bitmap bitmap{int(width), int(height), std::vector<std::uint32_t>(std::size_t(width) * height)};
    UINT stride = width * 4;
    if (FAILED(converted->CopyPixels(nullptr, stride, stride * height,
                                     reinterpret_cast<BYTE*>(bitmap.pixels.data()))))
        return {};
    return bitmap;
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

// The bitmap turned upright from EXIF orientation 1 to 8, done here on the small bitmap the box
// shows: Wine's IWICBitmapFlipRotator gives no pixels (E_NOTIMPL) for a turn or a left-right
// flip.
Bitmap Upright(const Bitmap& stored, int orientation) {
    if (orientation < 2 || orientation > 8 || stored.Empty()) return stored;
    const int w = stored.width, h = stored.height;
    const bool turned = orientation >= 5;
    Bitmap shown{turned ? h : w, turned ? w : h, std::vector<std::uint32_t>(stored.pixels.size())};
    for (int y = 0; y < shown.height; ++y) {
        for (int x = 0; x < shown.width; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2:
                    sx = w - 1 - x;
                    break;  // mirrored left to right
                case 3:
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                    break;  // half a turn
                case 4:
                    sy = h - 1 - y;
                    break;  // mirrored top to bottom
                case 5:
                    sx = y;
                    sy = x;
                    break;  // mirrored about a diagonal
                case 6:
                    sx = y;
                    sy = h - 1 - x;
                    break;  // a quarter turn right
                case 7:
                    sx = w - 1 - y;
                    sy = h - 1 - x;
                    break;  // the other diagonal
                case 8:
                    sx = w - 1 - y;
                    sy = x;
                    break;  // a quarter turn left
            }
            shown.pixels[std::size_t(y) * shown.width + x] =
                stored.pixels[std::size_t(sy) * w + sx];
        }
    }
    return shown;
}

// The frame an icon or cursor shows: the one with the most pixels. Other kinds: the first.
ComPtr<IWICBitmapFrameDecode> ShownFrame(IWICBitmapDecoder* decoder, PictureKind kind) {
    UINT count = 0;
    ComPtr<IWICBitmapFrameDecode> best;
    if (FAILED(decoder->GetFrameCount(&count)) || count == 0) return best;
    const bool icon = kind == PictureKind::Icon || kind == PictureKind::Cursor;
    std::size_t bestPixels = 0;
    for (UINT index = 0; index < (icon ? count : 1); ++index) {
        ComPtr<IWICBitmapFrameDecode> frame;
        UINT width = 0, height = 0;
        if (FAILED(decoder->GetFrame(index, frame.Put())) ||
            FAILED(frame->GetSize(&width, &height)))
            continue;
        if (std::size_t(width) * height <= bestPixels) continue;
        bestPixels = std::size_t(width) * height;
        best = std::move(frame);
    }
    return best;
}

// A JPEG's EXIF orientation from WIC's metadata reader, or, where WIC has none for JPEG (Wine),
// from the file's APP1 segment; 1 for every other kind.
int Orientation(IWICBitmapFrameDecode* frame, PictureKind kind, const unsigned char* data,
                std::size_t size) {
    if (kind != PictureKind::Jpeg) return 1;
    ComPtr<IWICMetadataQueryReader> reader = QueryReader(frame);
    const int orientation = ReadNumber(reader.Get(), orientationQuery, 0);
    if (orientation != 0) return orientation;
    const int fromFile = ExifOrientation(data, size);
    return fromFile != 0 ? fromFile : 1;
}

// Scaled (by the decoder itself where it can: a JPEG is decoded at a fraction of its size),
// converted to premultiplied BGRA, then turned upright.
Bitmap DecodeFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, PictureKind kind,
                   Size box, int orientation) {
    UINT storedWidth = 0, storedHeight = 0;
    if (FAILED(frame->GetSize(&storedWidth, &storedHeight))) return {};
    const bool turned = orientation >= 5 && orientation <= 8;
    const Size stored{int(storedWidth), int(storedHeight)};
    const Size shown = turned ? Size{stored.height, stored.width} : stored;
    const Size fitted = FitInBox(shown, box);
    const Size scaled = turned ? Size{fitted.height, fitted.width} : fitted;
    if (scaled.width <= 0 || scaled.height <= 0) return {};

    // Indexed pictures are made BGRA before the scaler sees them; a JPEG goes to the scaler
    // straight from the decoder, which then decodes it scaled.
    ComPtr<IWICBitmapSource> source;
    frame->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(source.Put()));
    if (kind != PictureKind::Jpeg) {
        ComPtr<IWICBitmapSource> converted;
        if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, source.Get(),
                                          converted.Put())))
            return {};
        source = std::move(converted);
    }
    if (!(scaled == stored)) {
        ComPtr<IWICBitmapScaler> scaler;
        if (FAILED(factory->CreateBitmapScaler(scaler.Put())) ||
            FAILED(scaler->Initialize(source.Get(), UINT(scaled.width), UINT(scaled.height),
                                      WICBitmapInterpolationModeFant)))
            return {};
        scaler->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(source.Put()));
    }
    return Upright(ReadPixels(source.Get()), orientation);
}

Bitmap DecodePcxForBox(const unsigned char* data, std::size_t size, Size box) {
    Pixels pixels;
    if (!DecodePcx(data, size, pixels) || pixels.width <= 0 || pixels.height <= 0) return {};
    // 0xAARRGGBB words with alpha 0xFF are premultiplied BGRA already.
    Bitmap bitmap{pixels.width, pixels.height, std::move(pixels.argb)};
    const Size fitted = FitInBox({bitmap.width, bitmap.height}, box);
    if (fitted == Size{bitmap.width, bitmap.height}) return bitmap;
    return ScaleBitmap(bitmap, fitted);
}

// Draws a premultiplied frame over the canvas (source over), clipped to it.
void DrawOver(Bitmap& canvas, const Bitmap& frame, int left, int top) {
    for (int y = std::max(0, -top); y < frame.height && top + y < canvas.height; ++y) {
        for (int x = std::max(0, -left); x < frame.width && left + x < canvas.width; ++x) {
            std::uint32_t source = frame.pixels[std::size_t(y) * frame.width + x];
            std::uint32_t alpha = source >> 24;
            std::uint32_t& target = canvas.pixels[std::size_t(top + y) * canvas.width + left + x];
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

void ClearArea(Bitmap& canvas, int left, int top, int width, int height) {
    for (int y = std::max(0, top); y < top + height && y < canvas.height; ++y)
        for (int x = std::max(0, left); x < left + width && x < canvas.width; ++x)
            canvas.pixels[std::size_t(y) * canvas.width + x] = 0;
}

}  // namespace

Size FitInBox(Size picture, Size box) {
    if (picture.width <= 0 || picture.height <= 0 || box.width <= 0 || box.height <= 0) return {};
    if (picture.width <= box.width && picture.height <= box.height) return picture;
    const long long width = picture.width, height = picture.height;
    if (box.width * height <= box.height * width)
        return {box.width, int(std::max<long long>(1, height * box.width / width))};
    return {int(std::max<long long>(1, width * box.height / height)), box.height};
}

Bitmap DecodeForBox(const unsigned char* data, std::size_t size, Size box) {
    const PictureKind kind = SniffPictureKind(data, size);
    if (kind == PictureKind::None) return {};
    if (kind == PictureKind::Pcx) return DecodePcxForBox(data, size, box);
    // A cursor file is an icon file with hot spots in place of colour counts: read as an icon.
    std::vector<BYTE> iconCopy;
    if (kind == PictureKind::Cursor) {
        iconCopy.assign(data, data + size);
        iconCopy[2] = 1;
        data = iconCopy.data();
    }
    ComPtr<IWICImagingFactory> factory = CreateFactory();
    if (!factory) return {};
    ComPtr<IWICStream> stream = MemoryStream(factory.Get(), data, size);
    ComPtr<IWICBitmapDecoder> decoder = CreateDecoder(factory.Get(), stream.Get());
    if (!decoder) return {};
    ComPtr<IWICBitmapFrameDecode> frame = ShownFrame(decoder.Get(), kind);
    if (!frame) return {};
    return DecodeFrame(factory.Get(), frame.Get(), kind, box,
                       Orientation(frame.Get(), kind, data, size));
}

Bitmap ScaleBitmap(const Bitmap& bitmap, Size size) {
    ComPtr<IWICImagingFactory> factory = CreateFactory();
    if (!factory || bitmap.Empty() || size.width <= 0 || size.height <= 0) return {};
    UINT sourceStride = UINT(bitmap.width) * 4, stride = UINT(size.width) * 4;
    ComPtr<IWICBitmap> source;
    auto* pixels = reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(bitmap.pixels.data()));
    if (FAILED(factory->CreateBitmapFromMemory(
            UINT(bitmap.width), UINT(bitmap.height), GUID_WICPixelFormat32bppPBGRA, sourceStride,
            sourceStride * UINT(bitmap.height), pixels, source.Put())))
        return {};
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(scaler.Put())) ||
        FAILED(scaler->Initialize(source.Get(), UINT(size.width), UINT(size.height),
                                  WICBitmapInterpolationModeFant)))
        return {};
    Bitmap scaled{size.width, size.height,
                  std::vector<std::uint32_t>(std::size_t(size.width) * size.height)};
    if (FAILED(scaler->CopyPixels(nullptr, stride, stride * UINT(size.height),
                                  reinterpret_cast<BYTE*>(scaled.pixels.data()))))
        return {};
    return scaled;
}

bool GifAnimation::Open(const unsigned char* data, std::size_t size) {
    if (SniffPictureKind(data, size) != PictureKind::Gif) return false;
    factory = CreateFactory();
    if (!factory) return false;
    stream = MemoryStream(factory.Get(), data, size);
    decoder = CreateDecoder(factory.Get(), stream.Get());
    if (!decoder || FAILED(decoder->GetFrameCount(&frameCount)) || frameCount < 2) return false;
    ComPtr<IWICMetadataQueryReader> global;
    decoder->GetMetadataQueryReader(global.Put());
    canvas.width = ReadNumber(global.Get(), L"/logscrdesc/Width", 0);
    canvas.height = ReadNumber(global.Get(), L"/logscrdesc/Height", 0);
    if (canvas.width <= 0 || canvas.height <= 0) {
        ComPtr<IWICBitmapFrameDecode> first;
        UINT width = 0, height = 0;
        if (FAILED(decoder->GetFrame(0, first.Put())) || FAILED(first->GetSize(&width, &height)))
            return false;
        canvas.width = int(width);
        canvas.height = int(height);
    }
    if (canvas.width <= 0 || canvas.height <= 0 ||
        std::size_t(canvas.width) * canvas.height > maxPixels)
        return false;
    started = false;
    return Advance();
}

bool GifAnimation::Advance() {
    const UINT next = started ? (index + 1) % frameCount : 0;
    if (next == 0) {
        // Each round starts from a clear canvas.
        canvas.pixels.assign(std::size_t(canvas.width) * canvas.height, 0);
        saved.clear();
        previous = {};
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(next, frame.Put()))) return false;
    Bitmap pixels = ReadPixels(frame.Get());
    if (pixels.Empty()) return false;
    ComPtr<IWICMetadataQueryReader> reader = QueryReader(frame.Get());

    if (previous.disposal == disposeToBackground)
        ClearArea(canvas, previous.left, previous.top, previous.width, previous.height);
    if (previous.disposal == disposeToPrevious && !saved.empty()) canvas.pixels = saved;

    const int left = ReadNumber(reader.Get(), L"/imgdesc/Left", 0);
    const int top = ReadNumber(reader.Get(), L"/imgdesc/Top", 0);
    const int disposal = ReadNumber(reader.Get(), L"/grctlext/Disposal", 0);
    const int hundredths = ReadNumber(reader.Get(), L"/grctlext/Delay", 0);
    if (disposal == disposeToPrevious) saved = canvas.pixels;
    DrawOver(canvas, pixels, left, top);
    previous = {left, top, pixels.width, pixels.height, disposal};
    delay = hundredths < minGifDelay ? fastGifDelay : hundredths * gifDelayUnit;
    index = next;
    started = true;
    return true;
}

}  // namespace toolkit::win32
