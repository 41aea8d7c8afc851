#include "app/start_up.h"

#include <cstdio>

#include "app/globals.h"
#include "app/toolkit/toolkit.h"

std::unique_ptr<MainWindow> StartUp(int& argc, char** argv) {
    if (!toolkit::Initialise(argc, argv)) {
        std::fprintf(stderr, "%s: cannot show a window: no display could be opened\n",
                     argc > 0 && argv[0] != nullptr ? argv[0] : "recognizer");
        return nullptr;
    }
    CreateSession();
    toolkit::RegisterExitRoutine(ReleaseGlobals);
    processHeap = GetProcessHeap();
    auto window = std::make_unique<MainWindow>();
    window->Show();
    return window;
}
