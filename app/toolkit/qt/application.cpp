// Start-up, message loop and exit routines of the Qt backend.
#include <QApplication>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/toolkit/qt/window.h"
#include "app/toolkit/toolkit.h"

namespace toolkit {
namespace {

std::unique_ptr<QApplication>& Application() {
    static std::unique_ptr<QApplication> application;
    return application;
}

std::vector<void (*)()>& ExitRoutines() {
    static std::vector<void (*)()> routines;
    return routines;
}

// Runs each registered routine once, at the end of the loop or, failing that, at exit.
void RunExitRoutines() {
    std::vector<void (*)()> routines;
    routines.swap(ExitRoutines());
    for (auto routine : routines)
        routine();
}

}  // namespace

bool Initialise(int& argc, char** argv) {
    if (QCoreApplication::instance() != nullptr) return qobject_cast<QApplication*>(qApp);
    Application() = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);
    return true;
}

void RegisterExitRoutine(void (*routine)()) {
    static bool atExitArmed = false;
    if (!atExitArmed) atExitArmed = std::atexit(RunExitRoutines) == 0;
    if (routine != nullptr) ExitRoutines().push_back(routine);
}

std::unique_ptr<Window> NewWindow(const WindowSettings& settings) {
    return std::make_unique<qt::QtWindow>(settings);
}

int RunMessageLoop() {
    QApplication::exec();
    RunExitRoutines();
    return 0;
}

}  // namespace toolkit
