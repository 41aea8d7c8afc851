#include "app/toolkit/win32/file_dialog.h"

#include "app/toolkit/win32/wide_text.h"

#include <commdlg.h>

#include <vector>

namespace toolkit::win32 {
namespace {

// The longest path Windows takes, in UTF-16 units.
constexpr DWORD pathRoom = 32768;
// OFN_OVERWRITEPROMPT has no effect on an open dialog; it is set as the window's settings say.
constexpr DWORD dialogFlags =
    OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;

}  // namespace

bool FileDialog::Open(HWND owner) {
    std::vector<wchar_t> path(pathRoom, L'\0');
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = pathRoom;
    dialog.Flags = dialogFlags;
    if (!GetOpenFileNameW(&dialog)) return false;
    fileName = FromWide(path.data());
    return true;
}

}  // namespace toolkit::win32
