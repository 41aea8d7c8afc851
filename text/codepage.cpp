// Conversion between code pages through the platform's MultiByteToWideChar and
// WideCharToMultiByte (flags 0, no default character). Each is called twice: once to learn the
// size, then into a buffer of exactly that size.
#include <cstring>

#include "platform/winapi.h"
#include "text/detail.h"
#include "text/text.h"

using text::detail::Access;

namespace {

constexpr std::size_t unitSize = 2;  // bytes per UTF-16 unit

LPCWCH Units(const Bytes& w) {
    return reinterpret_cast<LPCWCH>(w.data());
}

// The text in buffer up to its first NUL: the buffer itself when that NUL is its last byte.
Text UpToNul(Text&& buffer) {
    const std::size_t length = std::strlen(buffer.c_str());
    if (length == static_cast<std::size_t>(buffer.size())) return std::move(buffer);
    return Text(buffer.c_str(), static_cast<int>(length));
}

// A buffer of size bytes (size > 0) for WideCharToMultiByte to fill; its last byte stays NUL.
Text OutputBuffer(int size) {
    Text buffer = Access::MakeText(static_cast<std::size_t>(size));
    std::memset(Access::Mutable(buffer), 0, static_cast<std::size_t>(size));
    return buffer;
}

// A zeroed buffer for the given number of UTF-16 units.
Bytes WideBuffer(int units) {
    if (units < 1) return Bytes();
    const std::size_t size = static_cast<std::size_t>(units) * unitSize;
    text::detail::CheckLength(size);
    return BlankBytes(static_cast<int>(size));
}

// Units of w before its first zero unit, or all of them.
int UnitsBeforeZero(const Bytes& w) {
    const int units = w.size() / static_cast<int>(unitSize);
    for (int i = 0; i < units; ++i) {
        if (w.data()[i * 2] == 0 && w.data()[i * 2 + 1] == 0) return i;
    }
    return units;
}

}  // namespace

Bytes TextToWide(const Text& t, int codePage, int* charCount) {
    const int n = TextLength(t);
    if (n < 1) return Bytes();
    const UINT cp = static_cast<UINT>(codePage);
    const int units = MultiByteToWideChar(cp, 0, t.c_str(), n + 1, nullptr, 0);
    Bytes buffer = WideBuffer(units);
    const int written = MultiByteToWideChar(cp, 0, t.c_str(), n + 1,
                                            reinterpret_cast<LPWSTR>(buffer.data()), units);
    if (charCount) *charCount = written - 1;
    return buffer;
}

Text WideToText(const Bytes& w, int codePage, int* byteCount) {
    const int units = BytesLength(w) / static_cast<int>(unitSize);
    if (units < 1) return Text();
    const UINT cp = static_cast<UINT>(codePage);
    const int size = WideCharToMultiByte(cp, 0, Units(w), units, nullptr, 0, nullptr, nullptr);
    if (size < 1) {
        if (byteCount) *byteCount = -1;
        return Text();
    }
    Text buffer = OutputBuffer(size);
    const int written = WideCharToMultiByte(cp, 0, Units(w), units, Access::Mutable(buffer), size,
                                            nullptr, nullptr);
    if (byteCount) *byteCount = written - 1;
    return UpToNul(std::move(buffer));
}

Text Utf8ToText(const Bytes& b, int codePage) {
    const int n = BytesLength(b);
    if (n < 1) return Text();
    const auto* utf8 = reinterpret_cast<LPCCH>(b.data());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0);
    if (units < 1) return Text();
    Bytes wide = WideBuffer(units);
    const int converted =
        MultiByteToWideChar(CP_UTF8, 0, utf8, n, reinterpret_cast<LPWSTR>(wide.data()), units);
    if (converted < 1) return Text();
    const UINT cp = static_cast<UINT>(codePage);
    const int size =
        WideCharToMultiByte(cp, 0, Units(wide), converted, nullptr, 0, nullptr, nullptr);
    if (size < 1) return Text();
    Text out = OutputBuffer(size);
    WideCharToMultiByte(cp, 0, Units(wide), converted, Access::Mutable(out), size, nullptr,
                        nullptr);
    return UpToNul(std::move(out));
}

Bytes AnsiToWide(const Text& t, int codePage) {
    // Counted in the code page that converts, so that the buffer always fits.
    const UINT cp = static_cast<UINT>(codePage);
    const int units = MultiByteToWideChar(cp, 0, t.c_str(), -1, nullptr, 0);
    if (units < 1) return Bytes();
    Bytes buffer = WideBuffer(units);
    MultiByteToWideChar(cp, 0, t.c_str(), -1, reinterpret_cast<LPWSTR>(buffer.data()), units);
    return buffer;
}

Text WideToAnsi(const Bytes& w, int codePage) {
    // The units up to the first zero unit; a value without one ends where its bytes end.
    const int units = UnitsBeforeZero(w);
    if (units < 1) return Text();
    const UINT cp = static_cast<UINT>(codePage);
    const int size = WideCharToMultiByte(cp, 0, Units(w), units, nullptr, 0, nullptr, nullptr);
    if (size < 1) return Text();
    Text buffer = OutputBuffer(size);
    WideCharToMultiByte(cp, 0, Units(w), units, Access::Mutable(buffer), size, nullptr, nullptr);
    return UpToNul(std::move(buffer));
}

Text AnsiToUtf8(const Text& t) {
    return WideToAnsi(AnsiToWide(t, textCodePage), utf8CodePage);
}
