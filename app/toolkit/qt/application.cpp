// Start-up, message loop and exit routines of the Qt backend.
#include <xcb/xcb.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/toolkit/exit_routines.h"
#include "app/toolkit/qt/window.h"
#include "app/toolkit/toolkit.h"

namespace toolkit {
namespace {

// The platform Qt is asked for: the -platform argument, else QT_QPA_PLATFORM, else its default
// (the X11 one here).
std::string RequestedPlatform(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0) return argv[i + 1];
    const char* variable = std::getenv("QT_QPA_PLATFORM");
    return variable != nullptr && *variable != '\0' ? variable : "xcb";
}

// Qt ends the process (abort) when its platform cannot open the display, so the X display is
// tried here first. Other platforms (offscreen, a list with fallbacks) are left to Qt.
bool DisplayReachable(int argc, char** argv) {
    if (RequestedPlatform(argc, argv) != "xcb") return true;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

// While QApplication is made: a fatal message (no usable platform) ends the program with
// status 1 and Qt's reason, instead of an abort.
void StartUpMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (type != QtFatalMsg) return;
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

bool Initialise(int& argc, char** argv) {
    if (QCoreApplication::instance() != nullptr) return qobject_cast<QApplication*>(qApp);
    if (!DisplayReachable(argc, argv)) return false;
    // Lives until the process ends: windows are destroyed after the loop, and Qt's own state is
    // gone by the time static objects are destroyed, so it is never deleted. It keeps argc by
    // reference, hence the caller's own.
    const QtMessageHandler previous = qInstallMessageHandler(StartUpMessages);
    new QApplication(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setQuitOnLastWindowClosed(true);
    return true;
}

void RegisterExitRoutine(void (*routine)()) {
    detail::AddExitRoutine(routine);
}

std::unique_ptr<Window> NewWindow(const WindowSettings& settings) {
    return std::make_unique<qt::QtWindow>(settings);
}

int RunMessageLoop() {
    QApplication::exec();
    detail::RunExitRoutines();
    return 0;
}

}  // namespace toolkit
