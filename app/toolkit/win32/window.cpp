#include "app/toolkit/win32/window.h"

#include "app/toolkit/win32/wide_text.h"

#include <string>

namespace toolkit::win32 {

void Win32EditBox::SetText(const Text& text) {
    SetEditText(edit, text);
}

Text Win32EditBox::GetText() const {
    std::wstring text(GetWindowTextLengthW(edit) + 1, L'\0');
    text.resize(GetWindowTextW(edit, text.data(), int(text.size())));
    return FromWide(text.c_str());
}

Win32Window::Win32Window(const WindowSettings& settings) {
    // Win32 sizes the frame itself: the outer size is the one to keep.
    window.Create(settings.title, settings.outerWidth, settings.outerHeight);
}

toolkit::PictureBox& Win32Window::AddPictureBox(const Text&, const Rect& place) {
    return pictureBoxes.emplace_back(
        *window.AddPictureBox(place.left, place.top, place.width, place.height));
}

toolkit::EditBox& Win32Window::AddEditBox(const Text&, const Rect& place) {
    return editBoxes.emplace_back(
        window.AddEditBox(place.left, place.top, place.width, place.height));
}

void Win32Window::AddButton(const Text&, const Rect& place, const Text& caption,
                            Handler onClicked) {
    window.AddButton(caption, place.left, place.top, place.width, place.height,
                     std::move(onClicked));
}

toolkit::FileDialog& Win32Window::AddFileDialog(const Text&) {
    return fileDialogs.emplace_back(window);
}

void Win32Window::Show(Handler onCreated) {
    window.Show();
    // The created event runs before the message loop handles any input.
    if (onCreated) onCreated();
}

void Win32Window::SetBusy(bool busy) {
    // Stays until the next mouse move is handled, that is until the blocking request is over.
    LPCWSTR cursor =
        busy ? reinterpret_cast<LPCWSTR>(IDC_WAIT) : reinterpret_cast<LPCWSTR>(IDC_ARROW);
    SetCursor(LoadCursorW(nullptr, cursor));
}

}  // namespace toolkit::win32
