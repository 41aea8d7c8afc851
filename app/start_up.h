// The tool's start-up in its fixed order, shared by main and by the programs that run the tool
// without its message loop.
#pragma once

#include <memory>

#include "app/main_window.h"

// Initialises the toolkit, creates the session, registers ReleaseGlobals as the exit routine,
// takes the process heap, then creates and shows the main window and gives it back. argc is the
// caller's own: the toolkit keeps a reference to it for the whole run. Null when the toolkit
// cannot show a window (no display); a message saying so is then on standard error.
std::unique_ptr<MainWindow> StartUp(int& argc, char** argv);
