// The system's open-file dialog (GetOpenFileNameW): one existing file, every file listed, the
// read-only box hidden. The chosen file's full path is kept until the next confirmed choice.
#pragma once

#include "text/text.h"

#include <windows.h>

namespace toolkit::win32 {

class FileDialog {
  public:
    // Modal over owner; true when the user confirmed a file.
    bool Open(HWND owner);
    // The last confirmed choice; empty before the first.
    const Text& FileName() const { return fileName; }

  private:
    Text fileName;
};

}  // namespace toolkit::win32
