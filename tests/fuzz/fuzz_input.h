// What the fuzz targets share: reading typed values out of the fuzzer's bytes, and reporting a
// finding. A finding prints what differed and aborts, which libFuzzer records as a crash (and the
// corpus replay as a failed test).
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// Prints a byte string readably: printable ASCII as is, every other byte as \xNN.
inline std::string Shown(std::string_view v) {
    std::string out = "\"";
    for (unsigned char c : v) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += static_cast<char>(c);
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
    }
    return out + "\"";
}

[[noreturn]] inline void Finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz finding: %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// Reads values from the front of the input; past its end every value reads as zero or empty.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }

    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

    // A position or count near the interesting range -4 .. 43, now and then an extreme value.
    int Position() {
        const std::uint8_t b = Byte();
        switch (b) {
            case 255:
                return INT_MAX;
            case 254:
                return INT_MIN;
            case 253:
                return INT_MAX - 1;
            default:
                return static_cast<int>(b % 48) - 4;
        }
    }

    // A flag that is 1, 0 or another value (which counts as false).
    int Flag() {
        const std::uint8_t b = Byte() % 4;
        return b == 3 ? 2 : b;
    }

    // A text of up to maxLength bytes without zero bytes: bytes 0x80 and above are taken as
    // they are (lead and trail bytes); the others pick from a small alphabet, so that separators,
    // blanks, letters of both cases and digits meet often.
    std::string Text(std::size_t maxLength) {
        static constexpr std::string_view alphabet =
            "aAbBzZ, \t-+09@[]\x7F\x01=;:\r\nxX5\xA1\xA3\xB0\xFE";
        const std::size_t n = Byte() % (maxLength + 1);
        std::string out;
        for (std::size_t i = 0; i < n && !Empty(); ++i) {
            const std::uint8_t b = Byte();
            out += b >= 0x80 ? static_cast<char>(b) : alphabet[b % alphabet.size()];
        }
        return out;
    }

    // All that is left of the input.
    std::string_view Rest() {
        std::string_view rest(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        at_ = size_;
        return rest;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace fuzz
