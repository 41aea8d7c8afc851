#include "app/toolkit/win32/top_window.h"

#include "app/toolkit/win32/wide_text.h"

namespace toolkit::win32 {
namespace {

constexpr wchar_t className[] = L"RecognizerWindow";
// A fixed border and a title bar with system menu, minimise and close boxes; no maximise box.
constexpr DWORD windowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD buttonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
// Multi-line with word wrap (no ES_AUTOHSCROLL) and no scroll bars.
constexpr DWORD editStyle =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;

bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExW(instance, className, &windowClass)) return true;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    return RegisterClassExW(&windowClass) != 0;
}

void UseDefaultGuiFont(HWND window) {
    SendMessageW(window, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
}

}  // namespace

bool TopWindow::Create(const Text& title, int width, int height) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterWindowClass(instance, Procedure)) return false;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window = WindowHandle(CreateWindowExW(0, className, ToWide(title).c_str(), windowStyle, left,
                                          top, width, height, nullptr, nullptr, instance, this));
    if (!window.Get()) return false;
    // The system may adjust the size it was given; the window must have exactly this one.
    RECT outer;
    GetWindowRect(window.Get(), &outer);
    if (outer.right - outer.left != width || outer.bottom - outer.top != height)
        SetWindowPos(window.Get(), nullptr, left, top, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    UseDefaultGuiFont(window.Get());
    return true;
}

HWND TopWindow::AddControl(DWORD exStyle, const wchar_t* controlClass, const Text& text,
                           DWORD style, int left, int top, int width, int height, int id) {
    HWND control = CreateWindowExW(
        exStyle, controlClass, ToWide(text).c_str(), style, left, top, width, height, window.Get(),
        reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    if (control) UseDefaultGuiFont(control);
    return control;
}

HWND TopWindow::AddButton(const Text& label, int left, int top, int width, int height,
                          Handler onClick) {
    int id = nextControlId++;
    HWND button = AddControl(0, L"BUTTON", label, buttonStyle, left, top, width, height, id);
    if (button) clickHandlers[id] = std::move(onClick);
    return button;
}

HWND TopWindow::AddEditBox(int left, int top, int width, int height) {
    HWND edit = AddControl(WS_EX_CLIENTEDGE, L"EDIT", Text(), editStyle, left, top, width, height,
                           nextControlId++);
    if (edit) SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // 0: as much as the system allows
    return edit;
}

PictureBox* TopWindow::AddPictureBox(int left, int top, int width, int height) {
    // Kept even when the control cannot be made: it still keeps the bytes it is given.
    auto box = std::make_unique<PictureBox>();
    box->Create(window.Get(), left, top, width, height);
    pictureBoxes.push_back(std::move(box));
    return pictureBoxes.back().get();
}

void TopWindow::Show() {
    ShowWindow(window.Get(), SW_SHOW);
    UpdateWindow(window.Get());
}

LRESULT TopWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED || !lParam) return 0;
    auto found = clickHandlers.find(LOWORD(wParam));
    if (found != clickHandlers.end() && found->second) found->second();
    return 0;
}

LRESULT TopWindow::OnDestroy(WPARAM, LPARAM) {
    PostQuitMessage(0);
    if (closed) closed();
    return 0;
}

LRESULT CALLBACK TopWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TopWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (!self) return DefWindowProcW(window, message, wParam, lParam);

    static const struct {
        UINT message;
        LRESULT (TopWindow::*handler)(WPARAM, LPARAM);
    } dispatch[] = {
        {WM_COMMAND, &TopWindow::OnCommand},
        {WM_DESTROY, &TopWindow::OnDestroy},
    };
    for (const auto& entry : dispatch)
        if (entry.message == message) return (self->*entry.handler)(wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

void SetEditText(HWND edit, const Text& text) {
    SetWindowTextW(edit, ToWide(text).c_str());
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND top = GetAncestor(message.hwnd, GA_ROOT);
        if (top && IsDialogMessageW(top, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return int(message.wParam);
}

}  // namespace toolkit::win32
