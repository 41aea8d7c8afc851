// The tool's entry: start-up in its fixed order, then the message loop until the window closes.
#include "app/start_up.h"
#include "app/toolkit/toolkit.h"

int main(int argc, char** argv) {
    const std::unique_ptr<MainWindow> window = StartUp(argc, argv);
    return toolkit::RunMessageLoop();
}
