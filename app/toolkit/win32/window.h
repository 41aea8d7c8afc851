// The Win32 backend of the toolkit contract (app/toolkit/toolkit.h): the window, its controls and
// its dialog as the system's own, built on TopWindow, PictureBox and FileDialog.
#pragma once

#include "app/toolkit/toolkit.h"
#include "app/toolkit/win32/file_dialog.h"
#include "app/toolkit/win32/top_window.h"

#include <list>
#include <memory>

namespace toolkit::win32 {

class Win32PictureBox : public toolkit::PictureBox {
  public:
    explicit Win32PictureBox(win32::PictureBox& box) : box(box) {}
    void SetPicture(Bytes picture) override { box.SetPicture(std::move(picture)); }
    Bytes GetPicture() const override { return box.Picture(); }

  private:
    win32::PictureBox& box;
};

class Win32EditBox : public toolkit::EditBox {
  public:
    explicit Win32EditBox(HWND edit) : edit(edit) {}
    void SetText(const Text& text) override;
    Text GetText() const override;

  private:
    HWND edit;  // owned by the window
};

class Win32FileDialog : public toolkit::FileDialog {
  public:
    explicit Win32FileDialog(const TopWindow& owner) : owner(owner) {}
    bool Open() override { return dialog.Open(owner.Window()); }
    Text FileName() const override { return dialog.FileName(); }

  private:
    const TopWindow& owner;
    win32::FileDialog dialog;
};

class Win32Window : public toolkit::Window {
  public:
    explicit Win32Window(const WindowSettings& settings);
    toolkit::PictureBox& AddPictureBox(const Text& name, const Rect& place) override;
    toolkit::EditBox& AddEditBox(const Text& name, const Rect& place) override;
    void AddButton(const Text& name, const Rect& place, const Text& caption,
                   Handler onClicked) override;
    toolkit::FileDialog& AddFileDialog(const Text& name) override;
    void Show(Handler onCreated) override;
    void SetBusy(bool busy) override;

  private:
    TopWindow window;
    // Controls handed out by reference: a list keeps them where they are.
    std::list<Win32PictureBox> pictureBoxes;
    std::list<Win32EditBox> editBoxes;
    std::list<Win32FileDialog> fileDialogs;
};

}  // namespace toolkit::win32
