// The top-level window of the Qt backend.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "app/toolkit/qt/file_dialog.h"
#include "app/toolkit/toolkit.h"

namespace toolkit::qt {

class QtWindow : public Window {
  public:
    explicit QtWindow(const WindowSettings& settings);
    ~QtWindow() override;

    PictureBox& AddPictureBox(const Text& name, const Rect& place) override;
    EditBox& AddEditBox(const Text& name, const Rect& place) override;
    void AddButton(const Text& name, const Rect& place, const Text& caption,
                   Handler onClicked) override;
    FileDialog& AddFileDialog(const Text& name) override;
    void Show(Handler onCreated) override;
    void SetBusy(bool busy) override;

    QWidget* Widget() const { return widget_.get(); }

  private:
    WindowSettings settings_;
    std::unique_ptr<QWidget> widget_;
    std::vector<std::unique_ptr<QtFileDialog>> dialogs_;
    int busyDepth_ = 0;
};

}  // namespace toolkit::qt
