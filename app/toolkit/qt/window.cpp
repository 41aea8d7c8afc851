#include "app/toolkit/qt/window.h"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QScreen>

#include "app/toolkit/qt/convert.h"
#include "app/toolkit/qt/edit_widget.h"
#include "app/toolkit/qt/picture_widget.h"
#include "app/toolkit/qt/window_title.h"

namespace toolkit::qt {
namespace {

// Title bar with system menu, close and minimise boxes; no maximise box; fixed border.
constexpr Qt::WindowFlags toolWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

void Place(QWidget* control, const Text& name, const Rect& place) {
    control->setObjectName(ToQString(name));
    control->setGeometry(place.left, place.top, place.width, place.height);
}

}  // namespace

QtWindow::QtWindow(const WindowSettings& settings)
    : settings_(settings), widget_(std::make_unique<QWidget>(nullptr, toolWindowFlags)) {
    widget_->setWindowTitle(ToQString(settings.title));
    widget_->setFixedSize(settings.clientWidth, settings.clientHeight);
    widget_->setBackgroundRole(QPalette::Button);
    widget_->setAutoFillBackground(true);
    widget_->setAttribute(Qt::WA_DeleteOnClose, false);
}

QtWindow::~QtWindow() {
    while (busyDepth_ > 0)
        SetBusy(false);
}

PictureBox& QtWindow::AddPictureBox(const Text& name, const Rect& place) {
    auto* box = new PictureWidget(widget_.get());
    Place(box, name, place);
    return *box;
}

EditBox& QtWindow::AddEditBox(const Text& name, const Rect& place) {
    auto* box = new EditWidget(widget_.get());
    Place(box, name, place);
    return *box;
}

void QtWindow::AddButton(const Text& name, const Rect& place, const Text& caption,
                         Handler onClicked) {
    auto* button = new QPushButton(ToQString(caption), widget_.get());
    Place(button, name, place);
    QObject::connect(button, &QPushButton::clicked, button,
                     [handler = std::move(onClicked)] { handler(); });
}

FileDialog& QtWindow::AddFileDialog(const Text&) {
    dialogs_.push_back(std::make_unique<QtFileDialog>(widget_.get()));
    return *dialogs_.back();
}

void QtWindow::Show(Handler onCreated) {
    // Centred by the designed outer size: left = (screen width - outer width) / 2, likewise top.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        widget_->move(area.left() + (area.width() - settings_.outerWidth) / 2,
                      area.top() + (area.height() - settings_.outerHeight) / 2);
    }
    // Qt names an untitled window after the program; the window manager must see the title.
    if (settings_.title.empty()) ClearWindowManagerTitle(*widget_);
    widget_->show();
    if (onCreated) onCreated();
}

void QtWindow::SetBusy(bool busy) {
    if (busy) {
        ++busyDepth_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // Let the window system see the cursor (and pending paints) before the request blocks.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    if (busyDepth_ == 0) return;
    --busyDepth_;
    QApplication::restoreOverrideCursor();
}

}  // namespace toolkit::qt
