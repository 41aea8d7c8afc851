// What the sources of the text library share; not part of its public interface.
#pragma once

#include <cstddef>

#include "text/text.h"

namespace text::detail {

// Largest value length (maxTextLength) as a size.
constexpr std::size_t maxLength = static_cast<std::size_t>(maxTextLength);

// Stops the program with an out-of-memory error.
[[noreturn]] void OutOfMemory();

// Uninitialised storage of n bytes (n > 0), from the platform's block allocator (large
// buffers on huge pages); never null.
void* Allocate(std::size_t n);
// n zero bytes (n > 0); never null.
void* AllocateZeroed(std::size_t n);

// Builds values in place: the one door to the representation of Text and Bytes.
struct Access {
    // A text of length n (0 < n <= maxLength) whose bytes the caller fills; the NUL is set.
    static Text MakeText(std::size_t n);
    static char* Mutable(Text& t) noexcept { return t.data_; }
    // Gives the non-empty t room for n bytes (0 < n <= maxLength) and a NUL at n, keeping its
    // first bytes; large buffers usually grow where they are, without a copy.
    static char* Resize(Text& t, std::size_t n);
    // Takes over buffer, which holds length bytes and then a NUL.
    static Text Adopt(char* buffer, int length) noexcept {
        return Text(Text::Adopted(), buffer, length);
    }
    // Gives up b's buffer (nullptr when empty), leaving b empty.
    static unsigned char* Release(Bytes& b) noexcept;
    // Uninitialised bytes of length n (0 < n <= maxLength).
    static Bytes MakeBytes(std::size_t n);
    static Bytes AdoptBytes(unsigned char* buffer, int length) noexcept {
        return Bytes(Bytes::Adopted(), buffer, length);
    }
};

// Length of a text given as a size, checked against maxLength.
void CheckLength(std::size_t n);

inline bool IsLeadByte(unsigned char c) noexcept {
    return c >= 0x80;
}

// Bytes of the character beginning at p (at most end - p): 2 for a lead byte with a byte after
// it, otherwise 1. A lead byte right before the end is one step that ends the walk.
inline std::size_t StepAt(const char* p, const char* end) noexcept {
    return IsLeadByte(static_cast<unsigned char>(*p)) && p + 1 < end ? 2 : 1;
}

inline unsigned char FoldCase(unsigned char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace text::detail
