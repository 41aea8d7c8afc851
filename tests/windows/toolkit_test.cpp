// The Win32 toolkit under Wine, with real windows on the Wine session's display: the top window's
// size, place and styles, the edit box's text, and the picture box (bytes kept as given, the
// picture centred and shrunk to fit, GIF frames played on their timer, bad data blank).
#include "app/toolkit/toolkit.h"
#include "app/toolkit/win32/top_window.h"
#include "app/toolkit/win32/wide_text.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace toolkit::win32 {
namespace {

Bytes ReadPicture(const std::string& name) {
    const char* dir = std::getenv("PICTURES_DIR");
    std::ifstream file(std::string(dir ? dir : ".") + "/" + name, std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return Bytes(data.data(), int(data.size()));
}

// What the control draws, read back as COLORREF values (WM_PRINTCLIENT into a memory DC).
class Snapshot {
  public:
    explicit Snapshot(HWND control) {
        RECT client;
        GetClientRect(control, &client);
        width = client.right;
        height = client.bottom;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        SendMessageW(control, WM_PRINTCLIENT, WPARAM(memory), PRF_CLIENT);
        pixels.resize(std::size_t(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[std::size_t(y) * width + x] = GetPixel(memory, x, y);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    COLORREF At(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    int width = 0, height = 0;

  private:
    std::vector<COLORREF> pixels;
};

// Handles what is queued, for up to the given time or until done() holds.
template <typename Done>
bool PumpUntil(int milliseconds, Done done) {
    for (int waited = 0; waited <= milliseconds; waited += 10) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        if (done()) return true;
        Sleep(10);
    }
    return false;
}

constexpr COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255);

class Toolkit : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(window.Create(Text(), 634, 223)) << "no window: is there a display?";
        box = window.AddPictureBox(15, 5, 240, 176);
        ASSERT_NE(box, nullptr);
        window.Show();
    }
    void TearDown() override { CoUninitialize(); }

    TopWindow window;
    PictureBox* box = nullptr;
};

TEST_F(Toolkit, WindowIsCentredWithExactlyItsSizeAndStyles) {
    RECT outer;
    GetWindowRect(window.Window(), &outer);
    EXPECT_EQ(outer.right - outer.left, 634);
    EXPECT_EQ(outer.bottom - outer.top, 223);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 634) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 223) / 2);
    LONG style = GetWindowLongW(window.Window(), GWL_STYLE);
    LONG wanted = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(GetWindowTextLengthW(window.Window()), 0);
}

TEST_F(Toolkit, EditBoxShowsTheCodePage936TextGiven) {
    HWND edit = window.AddEditBox(265, 7, 215, 177);
    ASSERT_NE(edit, nullptr);
    struct {
        Text text;
        std::wstring shown;
    } cases[] = {
        {Text("\xD6\xD0\xCE\xC4 abc"), L"\u4e2d\u6587 abc"},  // 中文 abc
        {Text("{\"error_code\":110}"), L"{\"error_code\":110}"},
        {Text(), L""},
    };
    for (const auto& c : cases) {
        SetEditText(edit, c.text);
        wchar_t shown[256] = {};
        GetWindowTextW(edit, shown, 256);
        EXPECT_EQ(std::wstring(shown), c.shown) << c.text.c_str();
    }
    LONG style = GetWindowLongW(edit, GWL_STYLE);
    EXPECT_EQ(style & (ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN),
              ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN);
    EXPECT_EQ(style & (ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL), 0);
}

TEST_F(Toolkit, PictureBoxKeepsTheBytesGivenEvenWhenTheyShowNothing) {
    for (const char* file : {"still.png", "text.txt", "truncated.png"}) {
        Bytes data = ReadPicture(file);
        ASSERT_FALSE(data.empty()) << file;
        box->SetPicture(data);
        EXPECT_EQ(box->Picture(), data) << file;
    }
    box->SetPicture(Bytes());
    EXPECT_TRUE(box->Picture().empty());
}

TEST_F(Toolkit, SmallPictureIsCentredAtItsOwnSize) {
    box->SetPicture(ReadPicture("still.png"));  // 30 x 20, red
    Snapshot shot(box->Window());
    int left = (shot.width - 30) / 2, top = (shot.height - 20) / 2;
    EXPECT_EQ(shot.At(left, top), red);
    EXPECT_EQ(shot.At(left + 29, top + 19), red);
    EXPECT_EQ(shot.At(left - 1, top), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(shot.At(left + 30, top + 19), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(shot.At(left, top + 20), GetSysColor(COLOR_BTNFACE));
}

TEST_F(Toolkit, LargePictureIsShrunkToFitKeepingItsShape) {
    box->SetPicture(ReadPicture("wide.png"));  // 300 x 100, red
    Snapshot shot(box->Window());
    int height = 100 * shot.width / 300;  // the width fits exactly
    int top = (shot.height - height) / 2;
    EXPECT_EQ(shot.At(0, shot.height / 2), red);
    EXPECT_EQ(shot.At(shot.width - 1, shot.height / 2), red);
    EXPECT_EQ(shot.At(shot.width / 2, top - 2), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(shot.At(shot.width / 2, top + height + 1), GetSysColor(COLOR_BTNFACE));
}

// Within a small distance: JPEG is lossy.
bool Near(COLORREF a, COLORREF b) {
    constexpr int tolerance = 24;
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST_F(Toolkit, CameraPhotosAreShownWholeAndUpright) {
    struct {
        const char* file;
        int width, height;  // as drawn
        COLORREF top, bottom, left, right;
    } cases[] = {
        // 8000 x 6000, left half red, right half blue: 221 x 166.
        {"photos/big.jpg", 221, 166, 0, 0, red, blue},
        // 60 x 30 stored, to be turned right: 30 x 60, its left half on top.
        {"photos/turned.jpg", 30, 60, red, blue, 0, 0},
    };
    for (const auto& c : cases) {
        box->SetPicture(ReadPicture(c.file));
        Snapshot shot(box->Window());
        const int left = (shot.width - c.width) / 2, top = (shot.height - c.height) / 2;
        const struct {
            COLORREF expected;
            int x, y;
        } probes[] = {{c.top, left + c.width / 2, top + c.height / 4},
                      {c.bottom, left + c.width / 2, top + c.height * 3 / 4},
                      {c.left, left + c.width / 4, top + c.height / 2},
                      {c.right, left + c.width * 3 / 4, top + c.height / 2}};
        for (const auto& p : probes)
            if (p.expected != 0) {
                EXPECT_TRUE(Near(shot.At(p.x, p.y), p.expected))
                    << c.file << " at " << p.x << "," << p.y << std::hex << ": "
                    << shot.At(p.x, p.y);
            }
        // Beside the picture: the background, so it is drawn at exactly that size.
        if (left > 0) {
            EXPECT_EQ(shot.At(left - 1, shot.height / 2), GetSysColor(COLOR_BTNFACE)) << c.file;
        }
        if (top > 0) {
            EXPECT_EQ(shot.At(shot.width / 2, top - 1), GetSysColor(COLOR_BTNFACE)) << c.file;
        }
    }
}

TEST(ReadWholeFile, RefusesAFileAnotherProgramHoldsOpenForWriting) {
    wchar_t folder[MAX_PATH], name[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameW(folder, L"rwf", 0, name), 0u);
    {
        std::ofstream file(name, std::ios::binary);
        file << "picture";
    }
    const Text path = FromWide(name);
    const Bytes expected("picture", 7);
    EXPECT_EQ(ReadWholeFile(path, 1024), expected) << "nobody else has it open";

    struct {
        const char* what;
        DWORD access, share;
        bool readable;
    } cases[] = {
        {"open for writing, others may write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         false},
        {"open for reading and writing", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {"open for reading, others may read", GENERIC_READ, FILE_SHARE_READ, true},
        {"open for reading, others may read and write", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    for (const auto& c : cases) {
        HANDLE other = CreateFileW(name, c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(ReadWholeFile(path, 1024), c.readable ? expected : Bytes()) << c.what;
        CloseHandle(other);
    }
    EXPECT_EQ(ReadWholeFile(path, 6), Bytes()) << "larger than allowed";
    DeleteFileW(name);
    EXPECT_EQ(ReadWholeFile(path, 1024), Bytes()) << "gone";
    EXPECT_EQ(ReadWholeFile(Text(), 1024), Bytes()) << "no name";
}

TEST_F(Toolkit, AnimatedGifPlaysItsFrames) {
    box->SetPicture(ReadPicture("animated.gif"));  // red 200 ms, then blue 500 ms
    auto centre = [&] {
        Snapshot shot(box->Window());
        return shot.At(shot.width / 2, shot.height / 2);
    };
    EXPECT_EQ(centre(), red);
    EXPECT_TRUE(PumpUntil(5000, [&] { return centre() == blue; }));
    EXPECT_TRUE(PumpUntil(5000, [&] { return centre() == red; })) << "the animation loops";
}

TEST_F(Toolkit, BadDataLeavesTheBoxBlank) {
    box->SetPicture(ReadPicture("still.png"));
    box->SetPicture(ReadPicture("text.txt"));
    Snapshot shot(box->Window());
    EXPECT_EQ(shot.At(shot.width / 2, shot.height / 2), GetSysColor(COLOR_BTNFACE));
}

}  // namespace
}  // namespace toolkit::win32
