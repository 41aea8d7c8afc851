// Integers to and from text. Arithmetic is done on unsigned 32-bit values so that it wraps.
#include <cstdint>
#include <string>

#include "text/detail.h"
#include "text/text.h"

using text::detail::StepAt;

namespace {

// The ASCII byte a full-width form stands for, or 0 when the character is not one.
char FoldFullWidth(unsigned char lead, unsigned char trail) {
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) return static_cast<char>(trail & 0x7F);
    if (lead != 0xA1) return 0;
    if (trail == 0xA1) return ' ';
    if (trail == 0xAB) return '~';
    if (trail == 0xEE || trail == 0xEF) return '*';
    return 0;
}

// t with its full-width forms folded to ASCII.
std::string FoldedCopy(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    const char* end = v.data() + v.size();
    for (const char* p = v.data(); p < end;) {
        const std::size_t step = StepAt(p, end);
        const char folded = step == 2 ? FoldFullWidth(static_cast<unsigned char>(p[0]),
                                                      static_cast<unsigned char>(p[1]))
                                      : 0;
        if (folded)
            out.push_back(folded);
        else
            out.append(p, step);
        p += step;
    }
    return out;
}

bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int TextToInt(const Text& t) {
    const std::string folded = FoldedCopy(t.view());
    std::size_t i = 0;
    while (i < folded.size() && IsWhiteSpace(folded[i]))
        ++i;
    bool negative = false;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) negative = folded[i++] == '-';
    std::uint32_t value = 0;
    for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(folded[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

Text IntToText(int n) {
    char digits[12];  // "-2147483648" and a NUL
    const std::uint32_t value = static_cast<std::uint32_t>(n);
    std::uint32_t magnitude = n < 0 ? 0u - value : value;
    char* p = digits + sizeof digits;
    *--p = '\0';
    do {
        *--p = static_cast<char>('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    if (n < 0) *--p = '-';
    return Text(p);
}

Text HexText(int n) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    char digits[9];  // eight digits and a NUL
    std::uint32_t value = static_cast<std::uint32_t>(n);
    char* p = digits + sizeof digits;
    *--p = '\0';
    do {
        *--p = hexDigits[value & 0xFu];
        value >>= 4;
    } while (value != 0);
    return Text(p);
}
