// The GUI contract of the tool: one top-level window with a created event, push buttons, an edit
// box, a picture box, an open-file dialog and the message loop. Backends: Qt 6 Widgets (qt/) and
// Win32 (win32/). Texts cross this contract as code page 936 `Text`, pictures as image-file
// `Bytes`; no backend type shows here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "text/text.h"

namespace toolkit {

// A control's place and size in the window's client area, in pixels.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

using Handler = std::function<void()>;

class PictureBox {
  public:
    virtual ~PictureBox() = default;
    // Keeps the bytes (taken over when the caller moves them in) and shows the picture they
    // hold; bytes of no known picture kind, or empty bytes, leave the box blank.
    virtual void SetPicture(Bytes picture) = 0;
    // Exactly the bytes last set, also when they showed nothing.
    virtual Bytes GetPicture() const = 0;
};

class EditBox {
  public:
    virtual ~EditBox() = default;
    // Shows exactly this text, replacing the old one.
    virtual void SetText(const Text& text) = 0;
    virtual Text GetText() const = 0;
};

class FileDialog {
  public:
    virtual ~FileDialog() = default;
    // Modal; true when the user confirmed a choice. After a confirmed choice FileName() is the
    // chosen file's full path; after a cancel it is unchanged.
    virtual bool Open() = 0;
    // Empty before the first confirmed choice.
    virtual Text FileName() const = 0;
};

struct WindowSettings {
    Text title;
    // The whole window, frame and title bar included, where the program sizes the frame.
    int outerWidth = 0;
    int outerHeight = 0;
    // The client area, where the window system draws the frame itself (or draws none).
    int clientWidth = 0;
    int clientHeight = 0;
};

// A fixed-size top-level window with close and minimise boxes and no maximise box, the default
// GUI font and the button-face colour as background. Controls are made before Show.
class Window {
  public:
    virtual ~Window() = default;
    virtual PictureBox& AddPictureBox(const Text& name, const Rect& place) = 0;
    virtual EditBox& AddEditBox(const Text& name, const Rect& place) = 0;
    virtual void AddButton(const Text& name, const Rect& place, const Text& caption,
                           Handler onClicked) = 0;
    virtual FileDialog& AddFileDialog(const Text& name) = 0;
    // Centres the window on the screen, shows it, then runs onCreated once, before any user
    // input is handled.
    virtual void Show(Handler onCreated) = 0;
    // Shows the busy cursor over the window while true (a request blocks the window).
    virtual void SetBusy(bool busy) = 0;
};

// The whole content of the file at path (the name its open-file dialog gives), opened for reading
// while others may read it but not write it: on Windows a file another program holds open for
// writing is refused. Empty when it cannot be opened or read, is no regular file, is empty or
// holds more than maxBytes.
Bytes ReadWholeFile(const Text& path, std::uint64_t maxBytes);

// Call first; false when no window can be shown.
bool Initialise(int& argc, char** argv);
// The routine runs once when the program ends, after the message loop.
void RegisterExitRoutine(void (*routine)());
std::unique_ptr<Window> NewWindow(const WindowSettings& settings);
// Runs until the last window is closed, then runs the exit routines; gives 0.
int RunMessageLoop();

// Shows the busy cursor for the lifetime of the object.
class BusyCursor {
  public:
    explicit BusyCursor(Window& window) : window_(window) { window_.SetBusy(true); }
    ~BusyCursor() { window_.SetBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

  private:
    Window& window_;
};

}  // namespace toolkit
