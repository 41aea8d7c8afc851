// The tool's entry: start-up in its fixed order, then the message loop until the window closes.
// Without a display it ends at once with status 1.
#include "app/start_up.h"
#include "app/toolkit/toolkit.h"

int main(int argc, char** argv) {
    const std::unique_ptr<MainWindow> window = StartUp(argc, argv);
    if (!window) return 1;
    return toolkit::RunMessageLoop();
}
