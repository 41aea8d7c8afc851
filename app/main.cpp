// The tool's entry: start-up in its fixed order, then the message loop until the window closes.
#include "app/globals.h"
#include "app/main_window.h"
#include "app/toolkit/toolkit.h"

int main(int argc, char** argv) {
    toolkit::Initialise(argc, argv);
    CreateSession();
    toolkit::RegisterExitRoutine(ReleaseGlobals);
    processHeap = GetProcessHeap();
    MainWindow window;
    window.Show();
    return toolkit::RunMessageLoop();
}
