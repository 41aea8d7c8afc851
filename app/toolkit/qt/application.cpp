// Start-up, message loop and exit routines of the Qt backend.
#include <QApplication>
#include <cstdlib>
#include <vector>

#include "app/toolkit/qt/window.h"
#include "app/toolkit/toolkit.h"

namespace toolkit {
namespace {

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
    // Lives until the process ends: windows are destroyed after the loop, and Qt's own state is
    // gone by the time static objects are destroyed, so it is never deleted.
    new QApplication(argc, argv);
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
