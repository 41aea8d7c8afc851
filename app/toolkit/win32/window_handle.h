// Move-only owner of a window: DestroyWindow in the destructor, unless the window is gone
// already (a child dies with its parent).
#pragma once

#include <windows.h>

#include <utility>

namespace toolkit::win32 {

class WindowHandle {
  public:
    WindowHandle() = default;
    explicit WindowHandle(HWND window) : window(window) {}
    ~WindowHandle() { Reset(); }
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;
    WindowHandle(WindowHandle&& other) noexcept : window(std::exchange(other.window, nullptr)) {}
    WindowHandle& operator=(WindowHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            window = std::exchange(other.window, nullptr);
        }
        return *this;
    }

    HWND Get() const { return window; }
    void Reset() {
        HWND old = std::exchange(window, nullptr);
        if (old && IsWindow(old)) DestroyWindow(old);
    }

  private:
    HWND window = nullptr;
};

}  // namespace toolkit::win32
