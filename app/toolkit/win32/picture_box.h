// The picture box: a child window that keeps the bytes it is given and shows the picture they
// hold, centred and shrunk to fit (never enlarged), turned as its EXIF orientation says; an
// animated GIF plays on a timer, each frame decoded when it is due.
#pragma once

#include "app/toolkit/win32/picture_decoder.h"
#include "app/toolkit/win32/window_handle.h"
#include "text/text.h"

#include <windows.h>

#include <memory>

namespace toolkit::win32 {

class PictureBox {
  public:
    PictureBox() = default;
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;

    // Child of parent at the given place, framed: sunken client edge and a dialog frame.
    bool Create(HWND parent, int left, int top, int width, int height);
    HWND Window() const { return window.Get(); }

    // Keeps a copy of bytes and shows them; bytes that are no picture leave the box blank.
    void SetPicture(Bytes bytes);
    // Exactly the bytes last set.
    const Bytes& Picture() const { return bytes; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc) const;
    void NextFrame();
    void StartFrameTimer() const;
    Size ClientSize() const;
    // The animation's current canvas, scaled to fit the box, into `shown`.
    void ShowCanvas();

    WindowHandle window;
    Bytes bytes;
    Bitmap shown;                             // at the size it is drawn
    std::unique_ptr<GifAnimation> animation;  // reads `bytes` in place
};

}  // namespace toolkit::win32
