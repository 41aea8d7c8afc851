#include "app/toolkit/win32/picture_box.h"

#include <algorithm>
#include <vector>

namespace toolkit::win32 {
namespace {

constexpr wchar_t className[] = L"RecognizerPictureBox";
constexpr UINT_PTR frameTimer = 1;

bool RegisterPictureBoxClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExW(instance, className, &windowClass)) return true;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    return RegisterClassExW(&windowClass) != 0;
}

// Premultiplied BGRA over an opaque colour.
std::uint32_t OverColour(std::uint32_t pixel, COLORREF colour) {
    std::uint32_t alpha = pixel >> 24;
    std::uint32_t background[3] = {GetBValue(colour), GetGValue(colour), GetRValue(colour)};
    std::uint32_t result = 0;
    for (int channel = 0; channel < 3; ++channel) {
        std::uint32_t source = (pixel >> (8 * channel)) & 0xFF;
        std::uint32_t value = source + background[channel] * (255 - alpha) / 255;
        result |= std::min<std::uint32_t>(255, value) << (8 * channel);
    }
    return result;
}

}  // namespace

bool PictureBox::Create(HWND parent, int left, int top, int width, int height) {
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    if (!RegisterPictureBoxClass(instance, Procedure)) return false;
    window = WindowHandle(CreateWindowExW(WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME, className, L"",
                                          WS_CHILD | WS_VISIBLE, left, top, width, height, parent,
                                          nullptr, instance, this));
    return window.Get() != nullptr;
}

Size PictureBox::ClientSize() const {
    RECT client = {};
    GetClientRect(window.Get(), &client);
    return {int(client.right), int(client.bottom)};
}

void PictureBox::SetPicture(Bytes newBytes) {
    KillTimer(window.Get(), frameTimer);
    animation.reset();
    shown = {};
    bytes = std::move(newBytes);

    auto gif = std::make_unique<GifAnimation>();
    if (gif->Open(bytes.data(), std::size_t(bytes.size()))) {
        animation = std::move(gif);
        ShowCanvas();
    } else {
        shown = DecodeForBox(bytes.data(), std::size_t(bytes.size()), ClientSize());
    }
    InvalidateRect(window.Get(), nullptr, TRUE);
    StartFrameTimer();
}

void PictureBox::ShowCanvas() {
    const Bitmap& canvas = animation->Canvas();
    const Size fitted = FitInBox({canvas.width, canvas.height}, ClientSize());
    shown = fitted == Size{canvas.width, canvas.height} ? canvas : ScaleBitmap(canvas, fitted);
}

void PictureBox::StartFrameTimer() const {
    if (!animation) return;
    SetTimer(window.Get(), frameTimer, UINT(std::max(1, animation->Delay())), nullptr);
}

void PictureBox::NextFrame() {
    KillTimer(window.Get(), frameTimer);
    if (!animation) return;
    // A frame that cannot be decoded ends the animation on the last good one.
    if (!animation->Advance()) return;
    ShowCanvas();
    InvalidateRect(window.Get(), nullptr, FALSE);
    StartFrameTimer();
}

void PictureBox::Paint(HDC dc) const {
    RECT client = {};
    GetClientRect(window.Get(), &client);
    COLORREF background = GetSysColor(COLOR_BTNFACE);
    if (shown.Empty()) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    // The whole client area in one go, so that frames do not flicker.
    int width = client.right, height = client.bottom;
    std::vector<std::uint32_t> canvas(std::size_t(width) * height, OverColour(0, background));
    int left = (width - shown.width) / 2, top = (height - shown.height) / 2;
    const std::vector<std::uint32_t>& pixels = shown.pixels;
    for (int y = 0; y < shown.height; ++y) {
        if (top + y < 0 || top + y >= height) continue;
        for (int x = 0; x < shown.width; ++x) {
            if (left + x < 0 || left + x >= width) continue;
            canvas[std::size_t(top + y) * width + left + x] =
                OverColour(pixels[std::size_t(y) * shown.width + x], background);
        }
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, DWORD(width), DWORD(height), 0, 0, 0, UINT(height), canvas.data(),
                      &info, DIB_RGB_COLORS);
}

LRESULT CALLBACK PictureBox::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* box = reinterpret_cast<PictureBox*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!box) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers every pixel
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            box->Paint(dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_PRINTCLIENT:  // drawing into a caller's device context (PrintWindow, tests)
            box->Paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == frameTimer) box->NextFrame();
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace toolkit::win32
