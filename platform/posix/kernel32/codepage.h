// Conversion cores shared by the kernel32 code-page functions. Each converts a whole input and
// writes to `out` while it has room; with `out` null it only counts. The result is the number of
// units written (or needed), or noRoom when `out` is too small for the whole input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::detail {

inline constexpr std::size_t noRoom = SIZE_MAX;

// UTF-16 code unit that replaces an invalid sequence (U+FFFD REPLACEMENT CHARACTER).
inline constexpr char16_t replacementUnit = 0xFFFD;

// Bounded output of a conversion: writes while there is room, or only counts when out is null.
template <typename Unit>
class Sink {
  public:
    Sink(Unit* out, std::size_t room) : out_(out), room_(room) {}
    // True when k more units fit (always true when only counting).
    bool Fits(std::size_t k) const { return out_ == nullptr || room_ - pos_ >= k; }
    void Put(Unit unit) {
        if (out_ != nullptr) out_[pos_] = unit;
        ++pos_;
    }
    bool Counting() const { return out_ == nullptr; }
    Unit* Cursor() const { return out_ + pos_; }
    void Advance(std::size_t k) { pos_ += k; }
    std::size_t Count() const { return pos_; }

  private:
    Unit* out_;
    std::size_t room_;
    std::size_t pos_ = 0;
};

// UTF-8 to UTF-16; each maximal invalid subpart becomes one U+FFFD (Unicode's recommended
// practice, as Windows does).
std::size_t Utf8ToUtf16(const unsigned char* in, std::size_t n, char16_t* out, std::size_t room);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::size_t Utf16ToUtf8(const char16_t* in, std::size_t n, unsigned char* out, std::size_t room);

// Whether the code page 936 tables could be built (glibc's iconv supplies their base).
bool Cp936Available();

// Code page 936 to UTF-16; see kernel32.h for how invalid sequences come out.
std::size_t Cp936ToUtf16(const unsigned char* in, std::size_t n, char16_t* out, std::size_t room);

// UTF-16 to code page 936; a unit the code page cannot hold becomes defaultChar (one or two
// bytes), and *usedDefault is set when that happened.
std::size_t Utf16ToCp936(const char16_t* in, std::size_t n, unsigned char* out, std::size_t room,
                         const unsigned char* defaultChar, std::size_t defaultLength,
                         bool* usedDefault);

}  // namespace platform::detail
