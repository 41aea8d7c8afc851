// CryptBinaryToStringA: Base64 against coreutils' base64 tool, line breaking and the sizing
// protocol.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/winapi.h"

namespace {

constexpr DWORD oneLine = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
constexpr std::size_t maxTestedLength = 300;

// The two-call protocol callers use: size, then encode into exactly that size.
std::string Encode(const std::string& data, DWORD flags) {
    auto bytes = reinterpret_cast<const BYTE*>(data.data());
    DWORD size = 0;
    if (!CryptBinaryToStringA(bytes, data.size(), flags, nullptr, &size)) return "<sizing failed>";
    std::string out(size, '#');
    DWORD length = size;
    if (!CryptBinaryToStringA(bytes, data.size(), flags, out.data(), &length)) {
        return "<encoding failed>";
    }
    if (length != size - 1 || out[length] != '\0') return "<wrong length or no terminator>";
    out.resize(length);
    return out;
}

// A temporary file, removed when its owner goes.
class TempFile {
  public:
    TempFile() {
        char name[] = "/tmp/base64_tests_XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = fd >= 0 ? name : "";
    }
    ~TempFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }
    bool Write(const std::string& data) const {
        FILE* f = fopen(path_.c_str(), "wb");
        if (f == nullptr) return false;
        bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
        return fclose(f) == 0 && ok;
    }

  private:
    std::string path_;
};

// What coreutils' base64 makes of data with the given options.
std::string Coreutils(const TempFile& file, const std::string& data, const char* options) {
    if (!file.Write(data)) return "<cannot write the input>";
    std::string command = std::string("base64 ") + options + " " + file.Path();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "<cannot run base64>";
    std::string out;
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    if (pclose(pipe) != 0) return "<base64 failed>";
    return out;
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::string WithCrLf(const std::string& lines) {
    std::string out;
    for (char c : lines) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

TEST(CryptBinaryToStringA, AgreesWithCoreutilsForEveryLengthUpTo300) {
    TempFile file;
    ASSERT_FALSE(file.Path().empty());
    std::mt19937 random(4648);
    for (std::size_t length = 0; length <= maxTestedLength; ++length) {
        std::string data(length, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        EXPECT_EQ(Encode(data, oneLine), Coreutils(file, data, "-w0")) << "length " << length;
        EXPECT_EQ(Encode(data, CRYPT_STRING_BASE64), WithCrLf(Coreutils(file, data, "-w64")))
            << "length " << length;
    }
}

TEST(CryptBinaryToStringA, KnownValues) {
    const struct {
        std::string data;
        DWORD flags;
        std::string expected;
    } cases[] = {
        {"", oneLine, ""},
        {"a", oneLine, "YQ=="},
        {"ab", oneLine, "YWI="},
        {"abc", oneLine, "YWJj"},
        {"\xFB\xFF\xBF", oneLine, "+/+/"},
        {std::string(99, 'a'), oneLine, Repeat("YWFh", 33)},  // 132 characters, one line
        {"", CRYPT_STRING_BASE64, ""},
        {"a", CRYPT_STRING_BASE64, "YQ==\r\n"},
        {std::string(48, '\0'), CRYPT_STRING_BASE64, std::string(64, 'A') + "\r\n"},
        {std::string(49, '\0'), CRYPT_STRING_BASE64, std::string(64, 'A') + "\r\nAA==\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.data, c.flags), c.expected) << c.data.size() << " bytes";
    }
}

TEST(CryptBinaryToStringA, SizingProtocol) {
    const struct {
        const char* what;
        std::size_t length;
        DWORD flags;
        DWORD size;  // the sizing call's answer, terminating zero included
    } cases[] = {
        {"no bytes", 0, oneLine, 1},
        {"one byte", 1, oneLine, 5},
        {"three bytes", 3, oneLine, 5},
        {"four bytes", 4, oneLine, 9},
        {"one line", 48, CRYPT_STRING_BASE64, 67},
        {"a second line", 49, CRYPT_STRING_BASE64, 73},
        {"no line breaks", 49, oneLine, 69},
    };
    for (const auto& c : cases) {
        std::string data(c.length, 'x');
        auto bytes = reinterpret_cast<const BYTE*>(data.data());
        DWORD size = 12345;
        ASSERT_TRUE(CryptBinaryToStringA(bytes, c.length, c.flags, nullptr, &size)) << c.what;
        EXPECT_EQ(size, c.size) << c.what;

        std::string out(size + 1, '#');
        DWORD tooSmall = size - 1;
        SetLastError(0);
        EXPECT_FALSE(CryptBinaryToStringA(bytes, c.length, c.flags, out.data(), &tooSmall))
            << c.what;
        EXPECT_EQ(GetLastError(), ERROR_MORE_DATA) << c.what;
        EXPECT_EQ(tooSmall, size) << c.what << ": the size needed";

        DWORD exact = size;
        EXPECT_TRUE(CryptBinaryToStringA(bytes, c.length, c.flags, out.data(), &exact)) << c.what;
        EXPECT_EQ(exact, size - 1) << c.what << ": the length without the zero";
        EXPECT_EQ(out[exact], '\0') << c.what;
        EXPECT_EQ(out[size], '#') << c.what << ": nothing written past the size";
    }
}

TEST(CryptBinaryToStringA, RejectsBadArguments) {
    const BYTE data[] = {1, 2, 3};
    DWORD size = 0;
    const struct {
        const char* what;
        const BYTE* data;
        DWORD length;
        DWORD flags;
        DWORD* size;
    } cases[] = {
        {"Base64 with a certificate header (0)", data, 3, 0x0, &size},
        {"no line breaks alone", data, 3, CRYPT_STRING_NOCRLF, &size},
        {"binary", data, 3, 0x2, &size},
        {"Base64 with a request header", data, 3, 0x3, &size},
        {"hexadecimal", data, 3, 0x4, &size},
        {"Base64 with LF line ends", data, 3, 0x80000001, &size},
        {"no size", data, 3, oneLine, nullptr},
        {"no data", nullptr, 3, oneLine, &size},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(CryptBinaryToStringA(c.data, c.length, c.flags, nullptr, c.size)) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
    }
}

TEST(CryptBinaryToStringA, RejectsAnOutputBeyondADword) {
    const BYTE data[] = {0};
    DWORD size = 0;
    // Only the length is looked at before the size check.
    SetLastError(0);
    EXPECT_FALSE(CryptBinaryToStringA(data, 0xFFFFFFFF, oneLine, nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
