// Text and byte values and their operations.
//
// Text: bytes in code page 936 ended by one NUL; a byte 0x80 or above is the lead byte of a
// double-byte character. Lengths and positions count bytes; positions are 1-based; a search that
// finds nothing gives -1. Bytes: a length and that many bytes, zero bytes allowed. TextList: an
// ordered list of Text addressed 1..Count().
//
// Absent and empty are one value. Every operation returns a new value owned by the caller and
// never changes its arguments. Integers are 32-bit signed and arithmetic wraps. A flag argument
// counts as true only when it is exactly 1. Running out of memory stops the program.
#pragma once

#include <concepts>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace text::detail {
struct Access;
}

// Code pages by number, as MultiByteToWideChar and WideCharToMultiByte take them.
constexpr int textCodePage = 936;    // simplified Chinese (GBK): the code page of every Text
constexpr int utf8CodePage = 65001;  // CP_UTF8
constexpr int ansiCodePage = 0;      // CP_ACP: the system's ANSI code page
// Largest length of a Text or Bytes: lengths and positions are 32-bit signed integers.
constexpr int maxTextLength = 0x7FFFFFFF;

class Text {
  public:
    Text() noexcept = default;
    // A NUL-terminated string; nullptr gives the empty text.
    Text(const char* s);  // NOLINT(google-explicit-constructor): literals are texts
    // The first n bytes at s, or fewer when a zero byte comes first; n < 1 gives empty.
    Text(const char* s, int n);
    // The bytes of v up to its first zero byte.
    explicit Text(std::string_view v);

    Text(const Text& other);
    Text(Text&& other) noexcept;
    Text& operator=(const Text& other);
    Text& operator=(Text&& other) noexcept;
    ~Text();

    // Always a valid NUL-terminated string ("" for the empty text).
    const char* c_str() const noexcept { return data_ ? data_ : ""; }
    const char* data() const noexcept { return c_str(); }
    int size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }
    std::string_view view() const noexcept { return {c_str(), static_cast<std::size_t>(length_)}; }

    friend bool operator==(const Text& a, const Text& b) noexcept { return a.view() == b.view(); }

  private:
    friend struct text::detail::Access;
    struct Adopted {};
    Text(Adopted, char* buffer, int length) noexcept : data_(buffer), length_(length) {}

    char* data_ = nullptr;  // length_ bytes and a NUL, or nullptr when empty
    int length_ = 0;
};

class Bytes {
  public:
    Bytes() noexcept = default;
    // A copy of the n bytes at p; n < 1 gives empty.
    Bytes(const void* p, int n);

    Bytes(const Bytes& other);
    Bytes(Bytes&& other) noexcept;
    Bytes& operator=(const Bytes& other);
    Bytes& operator=(Bytes&& other) noexcept;
    ~Bytes();

    // nullptr when empty. The bytes may be written through data() (a buffer from BlankBytes).
    unsigned char* data() noexcept { return data_; }
    const unsigned char* data() const noexcept { return data_; }
    int size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }

    friend bool operator==(const Bytes& a, const Bytes& b) noexcept;

  private:
    friend struct text::detail::Access;
    struct Adopted {};
    Bytes(Adopted, unsigned char* buffer, int length) noexcept : data_(buffer), length_(length) {}

    unsigned char* data_ = nullptr;  // nullptr when empty
    int length_ = 0;
};

class TextList {
  public:
    TextList() = default;
    explicit TextList(std::vector<Text> items) noexcept : items_(std::move(items)) {}

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // Element index, 1..Count(); any other index stops the program with an error.
    const Text& Item(int index) const;

    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

  private:
    std::vector<Text> items_;
};

// ---- Lengths, joining and comparing

int TextLength(const Text& t);
int BytesLength(const Bytes& b);

namespace text::detail {
// What ConcatText joins: a Text or a C string (nullptr is empty).
template <typename T>
concept TextPart = std::convertible_to<const T&, Text>;
inline std::string_view Piece(const Text& t) noexcept {
    return t.view();
}
std::string_view Piece(const char* s) noexcept;
Text ConcatPieces(std::initializer_list<std::string_view> pieces);
Bytes ConcatByteArrays(std::initializer_list<const Bytes*> arrays);
}  // namespace text::detail

// t1 to tn joined in order; always a text, empty when every part is empty.
template <text::detail::TextPart First, text::detail::TextPart... Rest>
Text ConcatText(const First& first, const Rest&... rest) {
    return text::detail::ConcatPieces({text::detail::Piece(first), text::detail::Piece(rest)...});
}

// b1 to bn joined in order; empty when the total length is 0.
template <std::same_as<Bytes>... Rest>
Bytes ConcatBytes(const Bytes& first, const Rest&... rest) {
    return text::detail::ConcatByteArrays({&first, &rest...});
}

// -1, 0 or 1, comparing bytes as unsigned values; a prefix is the smaller.
int CompareText(const Text& a, const Text& b);

// ---- Cutting (bytes only: may cut a double-byte character in two)

Text LeftText(const Text& t, int n);
Text RightText(const Text& t, int n);
Text MidText(const Text& t, int start, int n);

// ---- Searching (double-byte aware: a match never begins on a trail byte)

// Position of the first occurrence of s beginning at or after position start, else -1. An empty
// s gives 1 when the window from start on is not empty.
int FindText(const Text& t, const Text& s, int start = 1, int ignoreCase = 0);
// Position of the last occurrence of s lying wholly within the first start - 1 bytes (not
// given: the whole text), else -1.
int ReverseFindText(const Text& t, const Text& s, std::optional<int> start = std::nullopt,
                    int ignoreCase = 0);

// ---- Changing

// Without leading blanks (0x20 and the full-width blank 0xA1 0xA1).
Text TrimStart(const Text& t);
// Without leading and trailing blanks; a lone lead byte at the end is cut off instead.
Text TrimBoth(const Text& t);
// Deletes count bytes at start (clamped to the text) and inserts repl there.
Text ReplaceTextAt(const Text& t, int start, int count, const Text& repl = Text());
Text ToUpper(const Text& t);
Text ToLower(const Text& t);
// The pieces of t between occurrences of sep; max not given: no limit.
TextList SplitText(const Text& t, const Text& sep = Text(","),
                   std::optional<int> max = std::nullopt);

// ---- Converting

// The integer at the start of t (full-width forms folded, white space skipped, wraps).
int TextToInt(const Text& t);
Text IntToText(int n);             // "%d"
Text HexText(int n);               // "%X" of the 32-bit value
Text BytesToText(const Bytes& b);  // up to the first zero byte
// As above; takes over b's buffer instead of copying where it can (large values).
Text BytesToText(Bytes&& b);
Bytes TextToBytes(const Text& t);  // without the NUL
Bytes PointerToBytes(const void* p, int n);
Text CharFromCode(int c);  // low 8 bits; 0 gives empty
Text BlankText(int n);     // n blanks
Bytes BlankBytes(int n);   // n zero bytes

// Bitwise OR of two or more integers.
template <std::integral... Rest>
constexpr int BitOr(std::integral auto a, std::integral auto b, Rest... rest) {
    const unsigned first = static_cast<unsigned>(a) | static_cast<unsigned>(b);
    return static_cast<int>((first | ... | static_cast<unsigned>(rest)));
}

// ---- Code-page conversion (UTF-16 travels as Bytes of little-endian 16-bit units)

// UTF-16 of t with one terminating zero unit; *charCount receives the units without it. Empty t:
// empty Bytes, *charCount left unchanged.
Bytes TextToWide(const Text& t, int codePage = textCodePage, int* charCount = nullptr);
// Text of the units of w up to the first zero unit; *byteCount receives the bytes written minus
// 1. w shorter than one unit: empty, *byteCount left unchanged.
Text WideToText(const Bytes& w, int codePage = textCodePage, int* byteCount = nullptr);
// Text in codePage of the UTF-8 bytes b (a zero byte ends it); unconvertible characters give ?.
Text Utf8ToText(const Bytes& b, int codePage = textCodePage);
// UTF-16 of t read in codePage, with a terminating zero unit.
Bytes AnsiToWide(const Text& t, int codePage = utf8CodePage);
// Text in codePage of the UTF-16 w, up to its first zero unit.
Text WideToAnsi(const Bytes& w, int codePage = ansiCodePage);
// The code-page-936 text t as UTF-8 bytes, held in a Text.
Text AnsiToUtf8(const Text& t);

// ---- Marker extraction

// The part of t between startMarker (searched from startPos) and the next endMarker behind it;
// includeMarkers: with both markers; wholeIfMissing: t itself when a marker is missing;
// ignoreCase: ASCII letters compared without regard to case.
Text TextBetween(const Text& t, const Text& startMarker, const Text& endMarker, int startPos = 1,
                 int includeMarkers = 0, int wholeIfMissing = 0, int ignoreCase = 0);

// ---- Encoders

// Base64 text of b on one line, followed by one zero byte; empty for empty b or on failure (also
// when the result would exceed a 32-bit length).
Bytes EncodeBase64(const Bytes& b);
// Every byte as "%" and two upper-case hex digits, except - . 0-9 A-Z a-z when keepPlain; with
// asUtf8 the bytes of t's UTF-8 form are encoded. Empty when the result would exceed a 32-bit
// length.
Text PercentEncode(const Text& t, int keepPlain = 0, int asUtf8 = 0);
// As above; encodes in t's own buffer, grown in place, instead of a second one (large values).
Text PercentEncode(Text&& t, int keepPlain = 0, int asUtf8 = 0);
