// Reading a whole file with the system's share modes: others may read it meanwhile but not
// write it, and a file another program holds open for writing is refused.
#include "app/toolkit/toolkit.h"
#include "app/toolkit/win32/wide_text.h"

#include <windows.h>

#include <algorithm>

namespace toolkit {
namespace {

// ReadFile takes a 32-bit count: large files are read in pieces of this size.
constexpr DWORD readPiece = 1u << 30;

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return handle; }

  private:
    HANDLE handle;
};

}  // namespace

Bytes ReadWholeFile(const Text& path, std::uint64_t maxBytes) {
    if (TextLength(path) == 0) return Bytes();
    FileHandle file(CreateFileW(win32::ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE || GetFileType(file.Get()) != FILE_TYPE_DISK)
        return Bytes();
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        std::uint64_t(size.QuadPart) > maxBytes)
        return Bytes();
    Bytes data = BlankBytes(int(size.QuadPart));
    std::uint64_t done = 0;
    while (done < std::uint64_t(size.QuadPart)) {
        const DWORD want = DWORD(std::min<std::uint64_t>(readPiece, size.QuadPart - done));
        DWORD got = 0;
        if (!ReadFile(file.Get(), data.data() + done, want, &got, nullptr)) return Bytes();
        if (got == 0) break;  // the file shrank: what it still held
        done += got;
    }
    if (done == 0) return Bytes();
    if (done < std::uint64_t(size.QuadPart)) return Bytes(data.data(), int(done));
    return data;
}

}  // namespace toolkit
