// Fuzzing the code-page conversions, UTF-8 -> 936 -> UTF-16 -> UTF-8, on random bytes: nothing
// crashes, every conversion gives as much as its sizing call announced (and a buffer one unit
// smaller is refused), and whatever code page 936 can hold comes back unchanged.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/winapi.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/text.h"

namespace {

using Str = std::string;

Str Of(const Text& t) {
    return Str(t.view());
}

// Whether v is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsUtf8(std::string_view v) {
    for (std::size_t i = 0; i < v.size();) {
        const auto c = static_cast<unsigned char>(v[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= v.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(v[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string Context(const char* step, std::string_view input) {
    return std::string(step) + " of " + fuzz::Shown(input);
}

// MultiByteToWideChar: the sizing call's count is what the conversion writes into a buffer of
// exactly that size, and one unit less is refused without touching the buffer.
void CheckMultiByteSizes(UINT codePage, std::string_view input) {
    if (input.empty()) return;
    const int n = static_cast<int>(input.size());
    const int units = MultiByteToWideChar(codePage, 0, input.data(), n, nullptr, 0);
    if (units < 1) fuzz::Finding("MultiByteToWideChar sizing gave nothing", Context("", input));
    std::vector<WCHAR> out(static_cast<std::size_t>(units) + 1, 0x5A5A);
    const int written = MultiByteToWideChar(codePage, 0, input.data(), n, out.data(), units);
    if (written != units)
        fuzz::Finding("MultiByteToWideChar wrote other than its sizing call said",
                      Context("conversion", input) + ": " + std::to_string(written) + " vs " +
                          std::to_string(units));
    if (out[static_cast<std::size_t>(units)] != 0x5A5A)
        fuzz::Finding("MultiByteToWideChar wrote past its buffer", Context("conversion", input));
    std::vector<WCHAR> small(static_cast<std::size_t>(units), 0x5A5A);
    if (units > 1 &&
        MultiByteToWideChar(codePage, 0, input.data(), n, small.data(), units - 1) != 0)
        fuzz::Finding("MultiByteToWideChar took a too-small buffer", Context("", input));
    for (WCHAR u : small)
        if (u != 0x5A5A)
            fuzz::Finding("MultiByteToWideChar changed a too-small buffer", Context("", input));
}

void CheckWideSizes(UINT codePage, const std::vector<WCHAR>& input) {
    if (input.empty()) return;
    const int n = static_cast<int>(input.size());
    const std::string shown = fuzz::Shown(std::string_view(
        reinterpret_cast<const char*>(input.data()), input.size() * sizeof(WCHAR)));
    const int size =
        WideCharToMultiByte(codePage, 0, input.data(), n, nullptr, 0, nullptr, nullptr);
    if (size < 1) fuzz::Finding("WideCharToMultiByte sizing gave nothing", shown);
    std::vector<char> out(static_cast<std::size_t>(size) + 1, 'Z');
    const int written =
        WideCharToMultiByte(codePage, 0, input.data(), n, out.data(), size, nullptr, nullptr);
    if (written != size || out[static_cast<std::size_t>(size)] != 'Z')
        fuzz::Finding("WideCharToMultiByte wrote other than its sizing call said", shown);
    std::vector<char> small(static_cast<std::size_t>(size), 'Z');
    if (size > 1 && WideCharToMultiByte(codePage, 0, input.data(), n, small.data(), size - 1,
                                        nullptr, nullptr) != 0)
        fuzz::Finding("WideCharToMultiByte took a too-small buffer", shown);
    for (char c : small)
        if (c != 'Z') fuzz::Finding("WideCharToMultiByte changed a too-small buffer", shown);
}

std::vector<WCHAR> Units(const Bytes& w) {
    std::vector<WCHAR> units(static_cast<std::size_t>(w.size()) / 2);
    if (!units.empty()) std::memcpy(units.data(), w.data(), units.size() * 2);
    return units;
}

// The whole chain on UTF-8 input.
void CheckChain(std::string_view input) {
    // Utf8ToText reads the bytes up to the first zero byte.
    const std::string_view utf8 = input.substr(0, input.find('\0'));
    const Text text = Utf8ToText(Bytes(utf8.data(), static_cast<int>(utf8.size())));
    if (std::memchr(text.c_str(), 0, static_cast<std::size_t>(text.size())) != nullptr)
        fuzz::Finding("Utf8ToText gave a zero byte inside a text", Context("", utf8));
    if (text.empty() != utf8.empty())
        fuzz::Finding("Utf8ToText lost the text", Context("Utf8ToText", utf8));
    if (text.empty()) return;

    // 936 -> UTF-16: one unit per character plus the terminator, as the count says.
    int charCount = -12345;
    const Bytes wide = TextToWide(text, textCodePage, &charCount);
    const std::vector<WCHAR> units = Units(wide);
    if (wide.size() % 2 != 0 || units.empty() || units.back() != 0 ||
        charCount != static_cast<int>(units.size()) - 1)
        fuzz::Finding("TextToWide size disagrees with its count",
                      Context("TextToWide", Of(text)) + " count " + std::to_string(charCount) +
                          " bytes " + std::to_string(wide.size()));

    // UTF-16 -> 936 gives back the very bytes the first step made.
    int byteCount = -12345;
    const Text again = WideToText(wide, textCodePage, &byteCount);
    if (Of(again) != Of(text) || byteCount != text.size())
        fuzz::Finding("936 -> UTF-16 -> 936 changed the text",
                      Context("WideToText", Of(text)) + " gave " + fuzz::Shown(Of(again)));

    // 936 -> UTF-8: what 936 could hold comes back unchanged. Only a character 936 lacks, or a
    // malformed sequence, turns into "?" on the way.
    const Text back = AnsiToUtf8(text);
    const auto questionMarks = [](std::string_view v) {
        return std::count(v.begin(), v.end(), '?');
    };
    if (IsUtf8(utf8) && questionMarks(Of(text)) == questionMarks(utf8) && Of(back) != utf8)
        fuzz::Finding("UTF-8 -> 936 -> UTF-8 changed a text 936 can hold",
                      Context("AnsiToUtf8", utf8) + " gave " + fuzz::Shown(Of(back)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte() % 3;
    const std::string_view rest = in.Rest();
    if (mode == 0) {
        CheckChain(rest);
        CheckMultiByteSizes(CP_UTF8, rest);
    } else if (mode == 1) {
        // The input as code-page-936 bytes (valid or not).
        CheckMultiByteSizes(936, rest);
        const std::string_view t = rest.substr(0, rest.find('\0'));
        int count = 0;
        const Bytes wide = TextToWide(Text(t), textCodePage, &count);
        const Text utf8 = WideToAnsi(wide, CP_UTF8);
        Utf8ToText(TextToBytes(utf8));
    } else {
        // The input as UTF-16 units, unpaired surrogates included.
        std::vector<WCHAR> units(rest.size() / 2);
        if (!units.empty()) std::memcpy(units.data(), rest.data(), units.size() * 2);
        CheckWideSizes(936, units);
        CheckWideSizes(CP_UTF8, units);
        int count = 0;
        WideToText(Bytes(rest.data(), static_cast<int>(rest.size())), textCodePage, &count);
    }
    return 0;
}
