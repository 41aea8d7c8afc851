// The tool without a display: under Qt's offscreen platform it loads the plate picture and
// presses "识别车牌号", loads the plant picture and presses "识别植物", prints each answer the
// edit box shows and saves a screenshot of the window after each answer.
// Usage: recognizer-demo PLATE_PICTURE PLANT_PICTURE SCREENSHOT_DIR
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "app/toolkit/qt/convert.h"
#include "app/toolkit/toolkit.h"
#include "tests/app/dialog_script.h"
#include "tests/app/main_window_shown.h"

namespace {

// Loads the picture through the dialog, presses the button, prints the answer and saves the
// window as SCREENSHOT_DIR/name.png.
bool Step(MainWindow& window, const QString& picture, const char* button, const QString& shot) {
    QWidget* top = TopWindow();
    if (top == nullptr) return false;
    auto* load = top->findChild<QPushButton*>(QString::fromUtf8("按钮1"));
    auto* press = top->findChild<QPushButton*>(QString::fromUtf8(button));
    if (load == nullptr || press == nullptr) return false;
    dialog_script::Next(QFileInfo(picture).absoluteFilePath());
    QTest::mouseClick(load, Qt::LeftButton);
    QTest::mouseClick(press, Qt::LeftButton);
    QApplication::processEvents();
    const QString answer = toolkit::qt::ToQString(window.EditBox1().GetText());
    std::printf("%s %s\n", press->text().toUtf8().constData(), answer.toUtf8().constData());
    const bool saved = top->grab().save(shot, "PNG");
    std::printf("screenshot: %s\n", saved ? shot.toUtf8().constData() : "(not saved)");
    std::fflush(stdout);
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PLATE_PICTURE PLANT_PICTURE SCREENSHOT_DIR\n", argv[0]);
        return 2;
    }
    const QString plate = QString::fromLocal8Bit(argv[1]);
    const QString plant = QString::fromLocal8Bit(argv[2]);
    const QDir shots(QString::fromLocal8Bit(argv[3]));
    const std::unique_ptr<MainWindow> window = StartUp(argc, argv);
    if (!window) return 1;
    std::printf("access token: %s\n", TextLength(accessToken) > 0 ? "fetched" : "none");
    bool ok = true;
    QTimer::singleShot(0, [&] {
        ok = Step(*window, plate, "按钮3", shots.filePath("plate.png")) &&
             Step(*window, plant, "按钮2", shots.filePath("plant.png"));
        if (QWidget* top = TopWindow()) top->close();
    });
    toolkit::RunMessageLoop();
    return ok ? 0 : 1;
}
