// The tool's one window: a picture box, an edit box, three buttons and the open-file dialog,
// with the handlers of its created event and its buttons.
#pragma once

#include <memory>

#include "app/toolkit/toolkit.h"

class MainWindow {
  public:
    MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window centred; its created event then runs before the user can act.
    void Show();

    void OnMainWindowCreated();
    void OnLoadPictureClicked();
    void OnRecognizePlantClicked();
    void OnRecognizePlateClicked();
    // What the load handler does once the dialog has given a path: read, show, encode.
    void LoadPicture(const Text& path);

    toolkit::PictureBox& PictureBox1() { return *pictureBox1_; }
    toolkit::EditBox& EditBox1() { return *editBox1_; }
    toolkit::FileDialog& FileDialog1() { return *fileDialog1_; }

  private:
    void BuildWindow();
    void AddControls();
    void ShowAnswer(const Text& servicePath);

    std::unique_ptr<toolkit::Window> window_;
    toolkit::PictureBox* pictureBox1_ = nullptr;
    toolkit::EditBox* editBox1_ = nullptr;
    toolkit::FileDialog* fileDialog1_ = nullptr;
};
