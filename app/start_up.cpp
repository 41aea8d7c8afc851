#include "app/start_up.h"

#include "app/globals.h"
#include "app/toolkit/toolkit.h"

std::unique_ptr<MainWindow> StartUp(int argc, char** argv) {
    toolkit::Initialise(argc, argv);
    CreateSession();
    toolkit::RegisterExitRoutine(ReleaseGlobals);
    processHeap = GetProcessHeap();
    auto window = std::make_unique<MainWindow>();
    window->Show();
    return window;
}
