// A program that leaves in the way its argument names, with one exit routine registered that
// writes "routine\n" to standard output (unbuffered, so that it shows even when the process ends
// abruptly afterwards).
//   exit_probe close | quit | exit | return
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

#include "app/toolkit/toolkit.h"

namespace {

void Routine() {
    const char line[] = "routine\n";
    (void)!write(STDOUT_FILENO, line, sizeof line - 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const char* how = argv[1];
    if (!toolkit::Initialise(argc, argv)) return 3;
    toolkit::RegisterExitRoutine(Routine);
    toolkit::WindowSettings settings;
    settings.clientWidth = 120;
    settings.clientHeight = 60;
    auto window = toolkit::NewWindow(settings);
    window->Show(nullptr);
    // Ends without the message loop: the routine runs at exit, after main's objects are gone.
    if (std::strcmp(how, "return") == 0) return 0;
    QTimer::singleShot(0, [how] {
        if (std::strcmp(how, "close") == 0) {
            for (QWidget* widget : QApplication::topLevelWidgets())
                widget->close();
        } else if (std::strcmp(how, "quit") == 0) {
            QCoreApplication::exit(0);
        } else if (std::strcmp(how, "exit") == 0) {
            std::exit(4);  // from inside a handler, the loop still running
        }
    });
    return toolkit::RunMessageLoop();
}
