// The tool's main window for GUI tests: made and shown over a fresh session, and found again
// among Qt's top-level widgets.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "app/globals.h"
#include "app/main_window.h"

// The visible top-level window with buttons: the main window once shown, else null.
inline QWidget* TopWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->findChild<QPushButton*>()) return widget;
    return nullptr;
}

// Creates the session, then a main window, and shows it (its token fetch runs in Show).
inline std::unique_ptr<MainWindow> ShowMainWindow() {
    CreateSession();
    auto window = std::make_unique<MainWindow>();
    window->Show();
    return window;
}
