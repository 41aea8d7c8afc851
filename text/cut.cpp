// Cutting, searching and changing texts. Searches walk the text one character at a time, so a
// match never begins on the trail byte of a double-byte character.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "text/detail.h"
#include "text/text.h"

using text::detail::Access;
using text::detail::StepAt;

namespace {

Text Slice(const Text& t, std::size_t from, std::size_t n) {
    if (n == 0) return Text();
    return text::detail::ConcatPieces({t.view().substr(from, n)});
}

bool MatchesAt(const char* p, std::string_view s, int ignoreCase) {
    if (ignoreCase != 1) return std::memcmp(p, s.data(), s.size()) == 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (text::detail::FoldCase(static_cast<unsigned char>(p[i])) !=
            text::detail::FoldCase(static_cast<unsigned char>(s[i])))
            return false;
    }
    return true;
}

// Walks t[from, end) by characters and returns the position (0-based, from the start of t) of
// the first (or, with last, the last) step at which s fits before end and matches; -1 if none.
std::ptrdiff_t WalkFind(const Text& t, std::size_t from, std::size_t end, std::string_view s,
                        int ignoreCase, bool last) {
    const char* base = t.data();
    const char* stop = base + end;
    std::ptrdiff_t found = -1;
    for (const char* p = base + from; p < stop && static_cast<std::size_t>(stop - p) >= s.size();
         p += StepAt(p, stop)) {
        // A text holds no zero byte, so the first byte is a cheap filter without ignoreCase.
        if (ignoreCase != 1 && *p != s.front()) continue;
        if (!MatchesAt(p, s, ignoreCase)) continue;
        found = p - base;
        if (!last) break;
    }
    return found;
}

bool IsBlankAt(const char* p, const char* end) {
    if (*p == ' ') return true;
    return end - p >= 2 && static_cast<unsigned char>(p[0]) == 0xA1 &&
           static_cast<unsigned char>(p[1]) == 0xA1;
}

// Bytes of leading blanks of v.
std::size_t LeadingBlanks(std::string_view v) {
    const char* begin = v.data();
    const char* end = begin + v.size();
    const char* p = begin;
    while (p < end && IsBlankAt(p, end))
        p += *p == ' ' ? 1 : 2;
    return static_cast<std::size_t>(p - begin);
}

Text MapAscii(const Text& t, char from, char to) {
    if (t.empty()) return Text();
    Text result(t);
    char* p = Access::Mutable(result);
    char* end = p + result.size();
    while (p < end) {
        if (*p >= from && *p <= to) *p = static_cast<char>(*p ^ 0x20);
        p += StepAt(p, end);
    }
    return result;
}

}  // namespace

Text LeftText(const Text& t, int n) {
    if (n <= 0) return Text();
    return Slice(t, 0, std::min(static_cast<std::size_t>(n), t.view().size()));
}

Text RightText(const Text& t, int n) {
    if (n <= 0) return Text();
    const std::size_t length = t.view().size();
    const std::size_t take = std::min(static_cast<std::size_t>(n), length);
    return Slice(t, length - take, take);
}

Text MidText(const Text& t, int start, int n) {
    const int length = t.size();
    if (start < 1 || start > length || n <= 0) return Text();
    const std::size_t from = static_cast<std::size_t>(start - 1);
    return Slice(t, from, std::min(static_cast<std::size_t>(n), t.view().size() - from));
}

int FindText(const Text& t, const Text& s, int start, int ignoreCase) {
    const std::size_t length = t.view().size();
    const std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
    if (from >= length) return -1;
    if (s.empty()) return 1;
    const std::ptrdiff_t found = WalkFind(t, from, length, s.view(), ignoreCase, false);
    return found < 0 ? -1 : static_cast<int>(found + 1);
}

int ReverseFindText(const Text& t, const Text& s, std::optional<int> start, int ignoreCase) {
    const std::size_t length = t.view().size();
    std::size_t window = length;
    if (start) {
        if (*start <= 1) return -1;
        window = std::min(length, static_cast<std::size_t>(*start) - 1);
    }
    if (window == 0) return -1;
    if (s.empty()) return 1;
    const std::ptrdiff_t found = WalkFind(t, 0, window, s.view(), ignoreCase, true);
    return found < 0 ? -1 : static_cast<int>(found + 1);
}

Text TrimStart(const Text& t) {
    const std::size_t skip = LeadingBlanks(t.view());
    return Slice(t, skip, t.view().size() - skip);
}

Text TrimBoth(const Text& t) {
    const std::string_view v = t.view();
    const std::size_t from = LeadingBlanks(v);
    const char* begin = v.data();
    const char* end = begin + v.size();
    // Walk the rest; keepEnd is the end of the last character that is not a blank.
    const char* keepEnd = begin + from;
    for (const char* p = keepEnd; p < end;) {
        const std::size_t step = StepAt(p, end);
        if (step == 1 && text::detail::IsLeadByte(static_cast<unsigned char>(*p))) {
            // A lone lead byte at the end is cut off instead; the blanks before it stay.
            keepEnd = p;
            break;
        }
        if (!IsBlankAt(p, end)) keepEnd = p + step;
        p += step;
    }
    return Slice(t, from, static_cast<std::size_t>(keepEnd - begin) - from);
}

Text ReplaceTextAt(const Text& t, int start, int count, const Text& repl) {
    const std::string_view v = t.view();
    // start - 1 in 32-bit wrapping arithmetic: INT_MIN - 1 is INT_MAX, past every end.
    const std::int32_t before = static_cast<std::int32_t>(static_cast<std::uint32_t>(start) - 1u);
    const std::size_t p = before <= 0 ? 0 : std::min(static_cast<std::size_t>(before), v.size());
    const std::size_t removed =
        count > 0 ? std::min(static_cast<std::size_t>(count), v.size() - p) : 0;
    return text::detail::ConcatPieces({v.substr(0, p), repl.view(), v.substr(p + removed)});
}

Text ToUpper(const Text& t) {
    return MapAscii(t, 'a', 'z');
}

Text ToLower(const Text& t) {
    return MapAscii(t, 'A', 'Z');
}

TextList SplitText(const Text& t, const Text& sep, std::optional<int> max) {
    // No limit unless max is given; a negative max counts as 0.
    const std::size_t limit = max ? static_cast<std::size_t>(std::max(*max, 0)) : SIZE_MAX;
    if (t.empty() || limit == 0) return TextList();
    if (sep.empty()) return TextList(std::vector<Text>{t});
    const std::string_view v = t.view();
    const std::string_view s = sep.view();
    const char* begin = v.data();
    const char* end = begin + v.size();
    std::vector<Text> pieces;
    const char* pieceStart = begin;
    const char* p = begin;
    while (static_cast<std::size_t>(end - p) >= s.size()) {
        if (std::memcmp(p, s.data(), s.size()) != 0) {
            p += StepAt(p, end);
            continue;
        }
        pieces.emplace_back(text::detail::ConcatPieces(
            {std::string_view(pieceStart, static_cast<std::size_t>(p - pieceStart))}));
        p += s.size();
        pieceStart = p;
        if (pieces.size() == limit) return TextList(std::move(pieces));
    }
    if (pieceStart < end)
        pieces.emplace_back(text::detail::ConcatPieces(
            {std::string_view(pieceStart, static_cast<std::size_t>(end - pieceStart))}));
    return TextList(std::move(pieces));
}
