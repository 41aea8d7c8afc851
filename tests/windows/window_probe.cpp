// Reports a top-level window of another program as Win32 sees it, for the tool's smoke test:
//   window-probe CLASS           waits up to a minute for the window, then prints its facts
//   window-probe CLASS close     asks the window to close (WM_CLOSE)
//   window-probe CLASS click N   clicks the window's N-th button, waits until the edit box
//                                shows something (or a minute), then prints "edit TEXT"
//   window-probe CLASS press N   clicks the window's N-th button without waiting for its
//                                handler (which may open a modal dialog), prints "pressed"
// Lines printed: "outer W H", "place LEFT TOP", "screen W H", "client W H", "clientplace LEFT
// TOP" (on the screen), "style HEX", "exstyle HEX",
// "title LENGTH", then "child CLASS STYLE EXSTYLE LEFT TOP W H TEXT" per control (text in
// UTF-8). Exit code 0 when the window was found, 1 when not.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The tool may take a while to start under Wine on a busy machine, and a click handler may wait
// on the network.
constexpr int waitMilliseconds = 60000;
constexpr int pollMilliseconds = 100;

std::wstring Widen(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
    wide.resize(units > 0 ? units - 1 : 0);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
    text.resize(size > 0 ? size - 1 : 0);
    return text;
}

// WM_GETTEXT: GetWindowText reads no control's text in another process (an edit box keeps its
// own).
std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, waitMilliseconds,
                             &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), LPARAM(text.data()), SMTO_NORMAL,
                        waitMilliseconds, &copied);
    text.resize(copied);
    return text;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM parent) {
    if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;
    wchar_t className[256] = {};
    GetClassNameW(child, className, 256);
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&rect), 2);
    std::printf("child %s 0x%08lx 0x%08lx %ld %ld %ld %ld %s\n", Utf8(className).c_str(),
                GetWindowLongW(child, GWL_STYLE), GetWindowLongW(child, GWL_EXSTYLE), rect.left,
                rect.top, rect.right - rect.left, rect.bottom - rect.top,
                Utf8(WindowText(child)).c_str());
    return TRUE;
}

struct Search {
    const wchar_t* className;
    int wanted;  // 1-based among the controls of that class
    HWND found = nullptr;
};

BOOL CALLBACK FindChild(HWND child, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t className[256] = {};
    GetClassNameW(child, className, 256);
    if (lstrcmpiW(className, search->className) == 0 && --search->wanted == 0) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND NthChild(HWND window, const wchar_t* className, int index) {
    Search search{className, index};
    EnumChildWindows(window, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Click(HWND window, int index) {
    HWND button = NthChild(window, L"Button", index);
    if (!button) {
        std::printf("no button %d\n", index);
        return 1;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, waitMilliseconds, &result)) {
        std::printf("the click was not handled in time\n");
        return 1;
    }
    // The handler may still be waiting on the network: its answer shows when the box fills.
    HWND edit = NthChild(window, L"Edit", 1);
    std::wstring text;
    for (int waited = 0; edit && text.empty() && waited < waitMilliseconds;
         waited += pollMilliseconds) {
        text = WindowText(edit);
        if (text.empty()) Sleep(pollMilliseconds);
    }
    std::printf("edit %s\n", edit ? Utf8(text).c_str() : "(none)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: window-probe CLASS [close | click N | press N]\n");
        return 2;
    }
    std::wstring className = Widen(argv[1]);
    HWND window = nullptr;
    for (int waited = 0; !window && waited < waitMilliseconds; waited += pollMilliseconds) {
        window = FindWindowW(className.c_str(), nullptr);
        if (!window || !IsWindowVisible(window)) {
            window = nullptr;
            Sleep(pollMilliseconds);
        }
    }
    if (!window) {
        std::printf("no window of class %s\n", argv[1]);
        return 1;
    }
    if (argc == 4 && std::string(argv[2]) == "click") return Click(window, std::atoi(argv[3]));
    if (argc == 4 && std::string(argv[2]) == "press") {
        HWND button = NthChild(window, L"Button", std::atoi(argv[3]));
        if (!button || !PostMessageW(button, BM_CLICK, 0, 0)) return 1;
        std::printf("pressed\n");
        return 0;
    }
    if (argc == 3) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    RECT rect;
    GetWindowRect(window, &rect);
    std::printf("outer %ld %ld\n", rect.right - rect.left, rect.bottom - rect.top);
    std::printf("place %ld %ld\n", rect.left, rect.top);
    std::printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("client %ld %ld\n", client.right, client.bottom);
    std::printf("clientplace %ld %ld\n", origin.x, origin.y);
    std::printf("style 0x%08lx\n", GetWindowLongW(window, GWL_STYLE));
    std::printf("exstyle 0x%08lx\n", GetWindowLongW(window, GWL_EXSTYLE));
    std::printf("title %d\n", GetWindowTextLengthW(window));
    EnumChildWindows(window, PrintChild, reinterpret_cast<LPARAM>(window));
    std::fflush(stdout);
    return 0;
}
