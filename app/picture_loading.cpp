#include "app/picture_loading.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

// The request body, "image=" and 4 × ceil(n / 3) × 3 encoded bytes, must keep within a 32-bit
// length: files above 500 MiB are refused rather than wrapped.
constexpr std::uintmax_t kMaxFileBytes = 500u * 1024u * 1024u;

// The path as the file system takes it: code page 936 through UTF-16.
std::filesystem::path FileSystemPath(const Text& path) {
    int units = 0;
    const Bytes wide = TextToWide(path, 936, units);
    std::u16string name(std::size_t(units), u'\0');
    for (int i = 0; i < units; ++i) {
        const unsigned char* unit = BytesData(wide) + 2 * i;
        name[std::size_t(i)] = char16_t(unit[0] | (unit[1] << 8));
    }
    return std::filesystem::path(name);
}

}  // namespace

Bytes ReadFileBytes(const Text& path) {
    if (TextLength(path) == 0) return Bytes();
    const std::filesystem::path file = FileSystemPath(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return Bytes();
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size == 0 || size > kMaxFileBytes) return Bytes();
    std::ifstream in(file, std::ios::binary);
    if (!in) return Bytes();
    Bytes data = BlankBytes(int(size));
    in.read(reinterpret_cast<char*>(BytesData(data)), std::streamsize(size));
    // A file that shrank while being read gives what it still held.
    const std::streamsize got = in.gcount();
    if (got <= 0) return Bytes();
    if (std::uintmax_t(got) < size) return LeftBytes(data, int(got));
    return data;
}

Text EncodePicture(const Bytes& picture) {
    Text base64Text;
    {
        const Bytes base64 = EncodeBase64(picture);
        base64Text = BytesToText(base64);
    }
    return PercentEncode(base64Text);
}
