// Shows how the edit control lays out one of the service's answers in the tool's edit box: for
// each font, the formatting rectangle, then each line as the control broke it, with its width
// as GDI measures it in the same font and where the control puts its last character. A line
// wider than the rectangle is drawn cut off.
//   edit-layout-probe
#include "app/toolkit/win32/top_window.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t answer[] = L"{\"error_code\":202,\"error_msg\":\"image is empty\"}";

void Report(const char* what, HWND edit) {
    auto font = HFONT(SendMessageW(edit, WM_GETFONT, 0, 0));
    RECT format;
    SendMessageW(edit, EM_GETRECT, 0, LPARAM(&format));
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, font ? HGDIOBJ(font) : GetStockObject(SYSTEM_FONT));
    wchar_t face[64] = {};
    GetTextFaceW(dc, 64, face);
    const int lines = int(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
    std::printf("%s (drawn in %ls): formatting rectangle x %ld to %ld, %d lines\n", what, face,
                format.left, format.right, lines);
    for (int i = 0; i < lines; ++i) {
        const int start = int(SendMessageW(edit, EM_LINEINDEX, i, 0));
        const int length = int(SendMessageW(edit, EM_LINELENGTH, start, 0));
        std::wstring text(std::size_t(length) + 2, L'\0');
        *reinterpret_cast<WORD*>(text.data()) = WORD(length + 1);
        text.resize(std::size_t(SendMessageW(edit, EM_GETLINE, i, LPARAM(text.data()))));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        const LRESULT last = SendMessageW(edit, EM_POSFROMCHAR, WPARAM(start + length - 1), 0);
        std::printf("  line %d: %ld px wide, last character at x %d%s: %ls\n", i + 1, extent.cx,
                    short(LOWORD(last)), extent.cx > format.right - format.left ? " (CUT)" : "",
                    text.c_str());
    }
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
}

}  // namespace

int main() {
    toolkit::win32::TopWindow window;
    if (!window.Create(Text(), 634, 223)) return 1;
    HWND edit = window.AddEditBox(265, 7, 215, 177);  // as the tool makes it
    window.Show();
    SetWindowTextW(edit, answer);
    Report("the tool's edit box, DEFAULT_GUI_FONT", edit);
    SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                 MAKELONG(EC_USEFONTINFO, EC_USEFONTINFO));
    SetWindowTextW(edit, answer);
    Report("margins from the font (EC_USEFONTINFO)", edit);
    for (const wchar_t* faceName : {L"DejaVu Sans", L"Noto Sans CJK SC", L"Tahoma"}) {
        HFONT font =
            CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, faceName);
        SendMessageW(edit, WM_SETFONT, WPARAM(font), TRUE);
        SetWindowTextW(edit, answer);
        char what[96];
        std::snprintf(what, sizeof what, "font \"%ls\" set after the window was made", faceName);
        Report(what, edit);
    }
    return 0;
}
