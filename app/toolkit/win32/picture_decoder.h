// Decoding of the picture box's pictures with the Windows Imaging Component: BMP, JPEG, PNG, GIF
// (played frame by frame, composed as a viewer shows it, with its delays), icons and cursors;
// PCX with the toolkit's own decoder. The kind of picture is told by its signature only
// (picture_kind.h). COM must be initialised on the calling thread.
#pragma once

#include "app/toolkit/picture_kind.h"
#include "app/toolkit/win32/com.h"

#include <wincodec.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolkit::win32 {

// width * height premultiplied BGRA pixels, top row first; empty when there is no picture.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    bool Empty() const { return pixels.empty(); }
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// The size a picture is drawn at in a box: its own when it fits, else shrunk by
// min(box / picture) on both sides, without distortion; never enlarged.
Size FitInBox(Size picture, Size box);

// A still picture (any kind; a GIF's first frame) decoded at the size it is drawn in the box,
// never held larger than that when the decoder can scale as it decodes (JPEG), and turned as
// its EXIF orientation says. Empty on any failure.
Bitmap DecodeForBox(const unsigned char* data, std::size_t size, Size box);

// The bitmap scaled to the given size (WIC's Fant filter).
Bitmap ScaleBitmap(const Bitmap& bitmap, Size size);

// An animated GIF, decoded one frame at a time as it plays, so that its length does not matter:
// only the canvas (the GIF's logical screen) and, for frames that restore it, one saved copy are
// held.
class GifAnimation {
  public:
    // The data must outlive the animation. False when it is no GIF of two frames or more.
    bool Open(const unsigned char* data, std::size_t size);
    int FrameCount() const { return int(frameCount); }
    // Composes the next frame onto the canvas (the first one after the last); false when that
    // frame cannot be decoded.
    bool Advance();
    // The canvas as the current frame left it, and how long it stays up, in milliseconds.
    const Bitmap& Canvas() const { return canvas; }
    int Delay() const { return delay; }
    int Index() const { return int(index); }

  private:
    struct Area {
        int left = 0, top = 0, width = 0, height = 0, disposal = 0;
    };
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    UINT frameCount = 0;
    UINT index = 0;
    bool started = false;
    Bitmap canvas;
    std::vector<std::uint32_t> saved;
    Area previous;
    int delay = 0;
};

}  // namespace toolkit::win32
