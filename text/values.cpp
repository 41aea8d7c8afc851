// The value types Text, Bytes and TextList; lengths, joining, comparing and the plain
// conversions between texts, byte arrays and memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/winapi.h"
#include "text/detail.h"
#include "text/text.h"

namespace text::detail {

void OutOfMemory() {
    std::fputs("out of memory\n", stderr);
    std::abort();
}

void* Allocate(std::size_t n) {
    void* p = platform::AllocateBlock(n, false);
    if (!p) OutOfMemory();
    return p;
}

void* AllocateZeroed(std::size_t n) {
    void* p = platform::AllocateBlock(n, true);
    if (!p) OutOfMemory();
    return p;
}

void CheckLength(std::size_t n) {
    if (n > maxLength) OutOfMemory();
}

Text Access::MakeText(std::size_t n) {
    CheckLength(n);
    char* buffer = static_cast<char*>(Allocate(n + 1));
    buffer[n] = '\0';
    return Text(Text::Adopted(), buffer, static_cast<int>(n));
}

char* Access::Resize(Text& t, std::size_t n) {
    CheckLength(n);
    char* grown = static_cast<char*>(platform::ResizeBlock(t.data_, n + 1));
    if (!grown) OutOfMemory();
    grown[n] = '\0';
    t.data_ = grown;
    t.length_ = static_cast<int>(n);
    return grown;
}

unsigned char* Access::Release(Bytes& b) noexcept {
    b.length_ = 0;
    return std::exchange(b.data_, nullptr);
}

Bytes Access::MakeBytes(std::size_t n) {
    CheckLength(n);
    return Bytes(Bytes::Adopted(), static_cast<unsigned char*>(Allocate(n)), static_cast<int>(n));
}

std::string_view Piece(const char* s) noexcept {
    return s ? std::string_view(s) : std::string_view();
}

Text ConcatPieces(std::initializer_list<std::string_view> pieces) {
    std::size_t total = 0;
    for (std::string_view piece : pieces)
        total += piece.size();
    if (total == 0) return Text();
    Text result = Access::MakeText(total);
    char* out = Access::Mutable(result);
    for (std::string_view piece : pieces) {
        if (piece.empty()) continue;
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    }
    return result;
}

Bytes ConcatByteArrays(std::initializer_list<const Bytes*> arrays) {
    std::size_t total = 0;
    for (const Bytes* b : arrays)
        total += static_cast<std::size_t>(b->size());
    if (total == 0) return Bytes();
    Bytes result = Access::MakeBytes(total);
    unsigned char* out = result.data();
    for (const Bytes* b : arrays) {
        if (b->empty()) continue;
        std::memcpy(out, b->data(), static_cast<std::size_t>(b->size()));
        out += b->size();
    }
    return result;
}

}  // namespace text::detail

using text::detail::Access;

namespace {

// The bytes of v before its first zero byte.
std::string_view UpToZero(std::string_view v) {
    const void* zero = v.empty() ? nullptr : std::memchr(v.data(), 0, v.size());
    if (!zero) return v;
    return v.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - v.data()));
}

Text CopyOf(std::string_view v) {
    return text::detail::ConcatPieces({v});
}

}  // namespace

// ---- Text

Text::Text(const char* s) : Text(CopyOf(text::detail::Piece(s))) {}

Text::Text(const char* s, int n)
    : Text(s && n > 0 ? CopyOf(UpToZero({s, static_cast<std::size_t>(n)})) : Text()) {}

Text::Text(std::string_view v) : Text(CopyOf(UpToZero(v))) {}

Text::Text(const Text& other) : Text(CopyOf(other.view())) {}

Text::Text(Text&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}

Text& Text::operator=(const Text& other) {
    if (this != &other) *this = Text(other);
    return *this;
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        platform::FreeBlock(data_);
        data_ = std::exchange(other.data_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

Text::~Text() {
    platform::FreeBlock(data_);
}

// ---- Bytes

Bytes::Bytes(const void* p, int n) {
    if (!p || n < 1) return;
    *this = Access::MakeBytes(static_cast<std::size_t>(n));
    std::memcpy(data_, p, static_cast<std::size_t>(n));
}

Bytes::Bytes(const Bytes& other) : Bytes(other.data_, other.length_) {}

Bytes::Bytes(Bytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}

Bytes& Bytes::operator=(const Bytes& other) {
    if (this != &other) *this = Bytes(other);
    return *this;
}

Bytes& Bytes::operator=(Bytes&& other) noexcept {
    if (this != &other) {
        platform::FreeBlock(data_);
        data_ = std::exchange(other.data_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

Bytes::~Bytes() {
    platform::FreeBlock(data_);
}

bool operator==(const Bytes& a, const Bytes& b) noexcept {
    if (a.length_ != b.length_) return false;
    return a.length_ == 0 ||
           std::memcmp(a.data_, b.data_, static_cast<std::size_t>(a.length_)) == 0;
}

// ---- TextList

const Text& TextList::Item(int index) const {
    if (index < 1 || index > Count()) {
        std::fprintf(stderr, "TextList: element %d outside 1..%d\n", index, Count());
        std::abort();
    }
    return items_[static_cast<std::size_t>(index - 1)];
}

// ---- Operations

int TextLength(const Text& t) {
    return t.size();
}

int BytesLength(const Bytes& b) {
    return b.size();
}

int CompareText(const Text& a, const Text& b) {
    // std::string_view compares as unsigned char (char_traits<char>::compare uses memcmp).
    int c = a.view().compare(b.view());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

Text BytesToText(const Bytes& b) {
    if (b.empty()) return Text();
    return Text(reinterpret_cast<const char*>(b.data()), b.size());
}

Text BytesToText(Bytes&& b) {
    if (b.empty()) return Text();
    const std::size_t size = static_cast<std::size_t>(b.size());
    const void* zero = std::memchr(b.data(), 0, size);
    if (!zero) {
        // No zero byte: one more byte for the NUL, which the allocator can often add in place.
        unsigned char* buffer = Access::Release(b);
        auto* grown = static_cast<char*>(platform::ResizeBlock(buffer, size + 1));
        if (!grown) text::detail::OutOfMemory();
        grown[size] = '\0';
        return Access::Adopt(grown, static_cast<int>(size));
    }
    const std::size_t length =
        static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - b.data());
    if (length == 0) return Text();
    // Taking the buffer over only pays when most of it is the text (an encoder's output).
    if (length < size / 2) return BytesToText(static_cast<const Bytes&>(b));
    return Access::Adopt(reinterpret_cast<char*>(Access::Release(b)), static_cast<int>(length));
}

Bytes TextToBytes(const Text& t) {
    return Bytes(t.data(), t.size());
}

Bytes PointerToBytes(const void* p, int n) {
    return Bytes(p, n);
}

Text CharFromCode(int c) {
    const char byte = static_cast<char>(static_cast<unsigned>(c) & 0xFFu);
    return Text(&byte, 1);
}

Text BlankText(int n) {
    if (n < 1) return Text();
    Text result = Access::MakeText(static_cast<std::size_t>(n));
    std::memset(Access::Mutable(result), ' ', static_cast<std::size_t>(n));
    return result;
}

Bytes BlankBytes(int n) {
    if (n < 1) return Bytes();
    return Access::AdoptBytes(
        static_cast<unsigned char*>(text::detail::AllocateZeroed(static_cast<std::size_t>(n))), n);
}
