// The Win32 toolkit's start, message loop and exit routines.
#include "app/toolkit/exit_routines.h"
#include "app/toolkit/toolkit.h"
#include "app/toolkit/win32/window.h"

#include <objbase.h>

namespace toolkit {

bool Initialise(int&, char**) {
    // The picture box's decoders and the file dialog are COM objects of this thread.
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    return SUCCEEDED(result) && GetSystemMetrics(SM_CXSCREEN) > 0;
}

void RegisterExitRoutine(void (*routine)()) {
    detail::AddExitRoutine(routine);
}

std::unique_ptr<Window> NewWindow(const WindowSettings& settings) {
    return std::make_unique<win32::Win32Window>(settings);
}

int RunMessageLoop() {
    win32::RunMessageLoop();
    detail::RunExitRoutines();
    return 0;
}

}  // namespace toolkit
