// Reading a whole file on POSIX systems, which know no share modes: others may go on writing.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/toolkit/toolkit.h"

namespace toolkit {
namespace {

// The path as the file system takes it: code page 936 through UTF-16.
std::filesystem::path FileSystemPath(const Text& path) {
    int units = 0;
    const Bytes wide = TextToWide(path, textCodePage, &units);
    std::u16string name(std::size_t(units), u'\0');
    for (int i = 0; i < units; ++i) {
        const unsigned char* unit = wide.data() + 2 * i;
        name[std::size_t(i)] = char16_t(unit[0] | (unit[1] << 8));
    }
    return std::filesystem::path(name);
}

}  // namespace

Bytes ReadWholeFile(const Text& path, std::uint64_t maxBytes) {
    if (TextLength(path) == 0) return Bytes();
    const std::filesystem::path file = FileSystemPath(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return Bytes();
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size == 0 || size > maxBytes) return Bytes();
    std::ifstream in(file, std::ios::binary);
    if (!in) return Bytes();
    Bytes data = BlankBytes(int(size));
    in.read(reinterpret_cast<char*>(data.data()), std::streamsize(size));
    // A file that shrank while being read gives what it still held.
    const std::streamsize got = in.gcount();
    if (got <= 0) return Bytes();
    if (std::uintmax_t(got) < size) return Bytes(data.data(), int(got));
    return data;
}

}  // namespace toolkit
