// The top-level window and its controls, built from the system's window classes: a fixed
// border, a title bar with system menu, close and minimise boxes (no maximise box), the 3D face
// colour and the default GUI font; centred on the screen at exactly the outer size asked for.
// Messages are dispatched to one handler each; button clicks to the handler given per button.
#pragma once

#include "app/toolkit/win32/picture_box.h"
#include "app/toolkit/win32/window_handle.h"
#include "text/text.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace toolkit::win32 {

class TopWindow {
  public:
    using Handler = std::function<void()>;

    TopWindow() = default;
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;

    // Outer size width x height, centred; the title shows title (empty: none).
    bool Create(const Text& title, int width, int height);
    HWND Window() const { return window.Get(); }

    // Controls, at client coordinates.
    HWND AddButton(const Text& label, int left, int top, int width, int height, Handler onClick);
    HWND AddEditBox(int left, int top, int width, int height);
    // Never null; owned by the window.
    PictureBox* AddPictureBox(int left, int top, int width, int height);

    void Show();
    // Called once the window is closed (after it is destroyed).
    void OnClosed(Handler handler) { closed = std::move(handler); }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
    HWND AddControl(DWORD exStyle, const wchar_t* className, const Text& text, DWORD style,
                    int left, int top, int width, int height, int id);

    WindowHandle window;
    std::map<int, Handler> clickHandlers;  // by control id
    std::vector<std::unique_ptr<PictureBox>> pictureBoxes;
    Handler closed;
    int nextControlId = 100;
};

// Edit box text, whole.
void SetEditText(HWND edit, const Text& text);

// Runs until the quit message; dialog keys (Tab between controls) work in every top window.
int RunMessageLoop();

}  // namespace toolkit::win32
