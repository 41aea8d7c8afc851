#include "app/main_window.h"

#include "app/globals.h"
#include "app/picture_loading.h"
#include "app/recognition.h"

namespace {

// Outer size as designed; client area where the window system draws (or omits) the frame.
constexpr int windowOuterWidth = 634;
constexpr int windowOuterHeight = 223;
constexpr int windowClientWidth = 628;
constexpr int windowClientHeight = 194;

constexpr toolkit::Rect pictureBox1 = {15, 5, 240, 176};
constexpr toolkit::Rect editBox1 = {265, 7, 215, 177};
constexpr toolkit::Rect button1 = {488, 8, 104, 32};
constexpr toolkit::Rect button2 = {488, 48, 104, 32};
constexpr toolkit::Rect button3 = {488, 88, 104, 32};

// Names and captions are written here in UTF-8 and handed to the toolkit in code page 936.
Text Cp936(const char* utf8) {
    return Utf8ToText(TextToBytes(Text(utf8)));
}

}  // namespace

MainWindow::MainWindow() {
    BuildWindow();
    AddControls();
}

void MainWindow::BuildWindow() {
    toolkit::WindowSettings settings;
    settings.outerWidth = windowOuterWidth;
    settings.outerHeight = windowOuterHeight;
    settings.clientWidth = windowClientWidth;
    settings.clientHeight = windowClientHeight;
    window_ = toolkit::NewWindow(settings);
}

void MainWindow::AddControls() {
    pictureBox1_ = &window_->AddPictureBox(Cp936("图片框1"), pictureBox1);
    editBox1_ = &window_->AddEditBox(Cp936("编辑框1"), editBox1);
    window_->AddButton(Cp936("按钮1"), button1, Cp936("载入图片"),
                       [this] { OnLoadPictureClicked(); });
    window_->AddButton(Cp936("按钮2"), button2, Cp936("识别植物"),
                       [this] { OnRecognizePlantClicked(); });
    window_->AddButton(Cp936("按钮3"), button3, Cp936("识别车牌号"),
                       [this] { OnRecognizePlateClicked(); });
    fileDialog1_ = &window_->AddFileDialog(Cp936("通用对话框1"));
}

void MainWindow::Show() {
    window_->Show([this] { OnMainWindowCreated(); });
}

void MainWindow::OnMainWindowCreated() {
    toolkit::BusyCursor busy(*window_);
    FetchAccessToken();
}

void MainWindow::OnLoadPictureClicked() {
    // Confirmed or cancelled, the dialog's file name decides: after a cancel it still names the
    // last file chosen (or nothing).
    fileDialog1_->Open();
    LoadPicture(fileDialog1_->FileName());
}

void MainWindow::LoadPicture(const Text& path) {
    // Every large value is released as soon as the next one is made: a big file is held a few
    // times over, not all at once.
    encodedPicture = Text();
    pictureBox1_->SetPicture(ReadFileBytes(path));
    Bytes base64;
    {
        const Bytes picture = pictureBox1_->GetPicture();
        base64 = EncodeBase64(picture);
    }
    encodedPicture = PercentEncodeBase64(std::move(base64));
}

void MainWindow::OnRecognizePlantClicked() {
    ShowAnswer(PlantPath());
}

void MainWindow::OnRecognizePlateClicked() {
    ShowAnswer(PlatePath());
}

void MainWindow::ShowAnswer(const Text& servicePath) {
    Text answer;
    {
        toolkit::BusyCursor busy(*window_);
        answer = PostPicture(servicePath);
    }
    editBox1_->SetText(answer);
}
