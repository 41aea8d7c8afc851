// Differential fuzzing of the text operations: each is run on random texts (double-byte
// characters included) next to a small reference version written plainly from its rules, and
// the two must agree. The first input byte picks the operation.
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "text/text.h"

namespace {

using Str = std::string;

// ---- Reference versions: byte strings, 0-based indices, no shortcuts.

bool IsLead(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

// Where the character beginning at i ends: a lead byte takes the next byte with it, unless it is
// the last byte.
std::size_t NextStep(const Str& t, std::size_t i) {
    return IsLead(t[i]) && i + 1 < t.size() ? i + 2 : i + 1;
}

char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAt(const Str& t, std::size_t i, const Str& s, bool ignoreCase) {
    for (std::size_t k = 0; k < s.size(); ++k) {
        const char a = ignoreCase ? Folded(t[i + k]) : t[i + k];
        const char b = ignoreCase ? Folded(s[k]) : s[k];
        if (a != b) return false;
    }
    return true;
}

int RefFind(const Str& t, const Str& s, int start, int ignoreCase) {
    const long long from = start < 1 ? 0 : static_cast<long long>(start) - 1;
    if (from >= static_cast<long long>(t.size())) return -1;
    if (s.empty()) return 1;
    for (std::size_t i = static_cast<std::size_t>(from); i < t.size(); i = NextStep(t, i)) {
        if (t.size() - i < s.size()) break;
        if (SameAt(t, i, s, ignoreCase == 1)) return static_cast<int>(i + 1);
    }
    return -1;
}

int RefReverseFind(const Str& t, const Str& s, std::optional<int> start, int ignoreCase) {
    std::size_t window = t.size();
    if (start) {
        if (*start <= 1) return -1;
        if (static_cast<long long>(*start) - 1 <= static_cast<long long>(t.size()))
            window = static_cast<std::size_t>(*start - 1);
    }
    if (window == 0) return -1;
    if (s.empty()) return 1;
    int last = -1;
    for (std::size_t i = 0; i < window; i = NextStep(t, i)) {
        if (i + s.size() <= window && SameAt(t, i, s, ignoreCase == 1))
            last = static_cast<int>(i + 1);
    }
    return last;
}

std::vector<Str> RefSplit(const Str& t, const Str& sep, std::optional<int> max) {
    const long long limit = !max ? -1 : (*max < 0 ? 0 : *max);
    if (t.empty() || limit == 0) return {};
    if (sep.empty()) return {t};
    std::vector<Str> pieces;
    std::size_t pieceStart = 0;
    std::size_t i = 0;
    while (t.size() - i >= sep.size()) {
        if (t.compare(i, sep.size(), sep) == 0) {
            pieces.push_back(t.substr(pieceStart, i - pieceStart));
            i += sep.size();
            pieceStart = i;
            if (static_cast<long long>(pieces.size()) == limit) return pieces;
        } else {
            i = NextStep(t, i);
        }
    }
    if (pieceStart < t.size()) pieces.push_back(t.substr(pieceStart));
    return pieces;
}

bool FullWidthBlankAt(const Str& t, std::size_t i) {
    return i + 1 < t.size() && t[i] == '\xA1' && t[i + 1] == '\xA1';
}

std::size_t SkipLeadingBlanks(const Str& t) {
    std::size_t i = 0;
    while (i < t.size()) {
        if (t[i] == ' ')
            i += 1;
        else if (FullWidthBlankAt(t, i))
            i += 2;
        else
            break;
    }
    return i;
}

Str RefTrimBoth(const Str& t) {
    const std::size_t from = SkipLeadingBlanks(t);
    std::size_t keepEnd = from;
    for (std::size_t i = from; i < t.size(); i = NextStep(t, i)) {
        const std::size_t next = NextStep(t, i);
        if (IsLead(t[i]) && next == i + 1) return t.substr(from, i - from);  // lone lead byte
        const bool blank = t[i] == ' ' || (next == i + 2 && FullWidthBlankAt(t, i));
        if (!blank) keepEnd = next;
    }
    return t.substr(from, keepEnd - from);
}

// The ASCII character a double-byte character stands for when read as a number, or 0: the
// full-width forms A3A1..A3FE are "!".."~", A1A1 a blank, A1AB "~", A1EE and A1EF "*".
char NumberMeaning(unsigned lead, unsigned trail) {
    static const std::map<unsigned, char> meanings = [] {
        std::map<unsigned, char> m;
        const char* ascii =
            "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
            "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
        for (unsigned k = 0; ascii[k] != 0; ++k)
            m[0xA3A1 + k] = ascii[k];
        m[0xA1A1] = ' ';
        m[0xA1AB] = '~';
        m[0xA1EE] = '*';
        m[0xA1EF] = '*';
        return m;
    }();
    auto found = meanings.find(lead << 8 | trail);
    return found == meanings.end() ? 0 : found->second;
}

// TextToInt read as a person would: character by character, each taken for what it stands for,
// through the states blanks, sign, digits; the value kept modulo 2^32 in 64-bit arithmetic.
int RefTextToInt(const Str& t) {
    enum class State { Blanks, Digits } state = State::Blanks;
    std::uint64_t value = 0;
    bool negative = false;
    for (std::size_t i = 0; i < t.size(); i = NextStep(t, i)) {
        const bool pair = NextStep(t, i) == i + 2;
        const char c = pair ? NumberMeaning(static_cast<unsigned char>(t[i]),
                                            static_cast<unsigned char>(t[i + 1]))
                            : t[i];
        if (state == State::Blanks && Str(" \t\n\v\f\r").find(c) != Str::npos) continue;
        if (state == State::Blanks && (c == '+' || c == '-')) {
            negative = c == '-';
            state = State::Digits;
            continue;
        }
        if (c < '0' || c > '9') break;
        state = State::Digits;
        value = (value * 10 + static_cast<std::uint64_t>(c - '0')) % (1ull << 32);
    }
    if (negative) value = ((1ull << 32) - value) % (1ull << 32);
    return static_cast<int>(value >= (1ull << 31) ? static_cast<std::int64_t>(value) - (1ll << 32)
                                                  : static_cast<std::int64_t>(value));
}

Str RefMid(const Str& t, int start, int n) {
    if (start < 1 || start > static_cast<int>(t.size()) || n <= 0) return "";
    const std::size_t from = static_cast<std::size_t>(start - 1);
    return t.substr(from, std::min(static_cast<std::size_t>(n), t.size() - from));
}

Str RefBetween(const Str& t, const Str& startMarker, const Str& endMarker, int startPos,
               int includeMarkers, int wholeIfMissing, int ignoreCase) {
    const Str missing = wholeIfMissing == 1 ? t : "";
    const int s = RefFind(t, startMarker, startPos, ignoreCase);
    if (s < 1) return missing;
    const long long after = static_cast<long long>(s) + static_cast<long long>(startMarker.size());
    const int e = RefFind(t, endMarker, static_cast<int>(after), ignoreCase);
    if (e <= s) return missing;
    const long long from = includeMarkers == 1 ? s : after;
    const long long to = includeMarkers == 1 ? e + static_cast<long long>(endMarker.size()) : e;
    return RefMid(t, static_cast<int>(from), static_cast<int>(to - from));
}

Str RefReplaceAt(const Str& t, int start, int count, const Str& repl) {
    // start - 1 in 32-bit arithmetic, which wraps: INT_MIN - 1 is INT_MAX.
    long long p0 = static_cast<long long>(start) - 1;
    if (p0 < INT_MIN) p0 += 1LL << 32;
    const std::size_t p = p0 < 0 ? 0 : std::min(static_cast<std::size_t>(p0), t.size());
    const std::size_t removed =
        count > 0 ? std::min(static_cast<std::size_t>(count), t.size() - p) : 0;
    return t.substr(0, p) + repl + t.substr(p + removed);
}

// ---- Comparing the library with the references.

Str Of(const Text& t) {
    return Str(t.view());
}

std::string Args(std::initializer_list<Str> texts, std::initializer_list<long long> numbers) {
    std::string out;
    for (const Str& t : texts)
        out += fuzz::Shown(t) + " ";
    for (long long n : numbers)
        out += std::to_string(n) + " ";
    return out;
}

void Expect(bool same, const char* operation, const std::string& args, const std::string& got,
            const std::string& want) {
    if (!same) fuzz::Finding(operation, "args: " + args + "\ngot:  " + got + "\nwant: " + want);
}

void ExpectInt(int got, int want, const char* operation, const std::string& args) {
    Expect(got == want, operation, args, std::to_string(got), std::to_string(want));
}

void ExpectText(const Text& got, const Str& want, const char* operation, const std::string& args) {
    Expect(Of(got) == want, operation, args, fuzz::Shown(Of(got)), fuzz::Shown(want));
}

std::optional<int> OptionalPosition(fuzz::Input& in) {
    const bool given = in.Byte() % 2 == 0;
    const int value = in.Position();
    return given ? std::optional<int>(value) : std::nullopt;
}

void CheckFind(fuzz::Input& in) {
    const Str t = in.Text(40), s = in.Text(4);
    const int start = in.Position(), ignoreCase = in.Flag();
    ExpectInt(FindText(Text(t), Text(s), start, ignoreCase), RefFind(t, s, start, ignoreCase),
              "FindText", Args({t, s}, {start, ignoreCase}));
}

void CheckReverseFind(fuzz::Input& in) {
    const Str t = in.Text(40), s = in.Text(4);
    const std::optional<int> start = OptionalPosition(in);
    const int ignoreCase = in.Flag();
    ExpectInt(ReverseFindText(Text(t), Text(s), start, ignoreCase),
              RefReverseFind(t, s, start, ignoreCase), "ReverseFindText",
              Args({t, s}, {start.value_or(-999999), ignoreCase}));
}

void CheckSplit(fuzz::Input& in) {
    const Str t = in.Text(40), sep = in.Text(3);
    const std::optional<int> max = OptionalPosition(in);
    const TextList got = SplitText(Text(t), Text(sep), max);
    const std::vector<Str> want = RefSplit(t, sep, max);
    Str gotShown, wantShown;
    std::vector<Str> gotPieces;
    for (const Text& piece : got) {
        gotPieces.push_back(Of(piece));
        gotShown += fuzz::Shown(Of(piece)) + " ";
    }
    for (const Str& piece : want)
        wantShown += fuzz::Shown(piece) + " ";
    Expect(gotPieces == want && got.Count() == static_cast<int>(want.size()), "SplitText",
           Args({t, sep}, {max.value_or(-999999)}), gotShown, wantShown);
}

void CheckTrimBoth(fuzz::Input& in) {
    const Str t = in.Text(40);
    ExpectText(TrimBoth(Text(t)), RefTrimBoth(t), "TrimBoth", Args({t}, {}));
}

void CheckTextToInt(fuzz::Input& in) {
    const Str t = in.Text(48);
    ExpectInt(TextToInt(Text(t)), RefTextToInt(t), "TextToInt", Args({t}, {}));
}

void CheckBetween(fuzz::Input& in) {
    const Str t = in.Text(40), startMarker = in.Text(3), endMarker = in.Text(3);
    const int startPos = in.Position(), include = in.Flag(), whole = in.Flag(),
              ignoreCase = in.Flag();
    ExpectText(TextBetween(Text(t), Text(startMarker), Text(endMarker), startPos, include, whole,
                           ignoreCase),
               RefBetween(t, startMarker, endMarker, startPos, include, whole, ignoreCase),
               "TextBetween",
               Args({t, startMarker, endMarker}, {startPos, include, whole, ignoreCase}));
}

void CheckReplaceAt(fuzz::Input& in) {
    const Str t = in.Text(40), repl = in.Text(8);
    const int start = in.Position(), count = in.Position();
    ExpectText(ReplaceTextAt(Text(t), start, count, Text(repl)),
               RefReplaceAt(t, start, count, repl), "ReplaceTextAt",
               Args({t, repl}, {start, count}));
}

void CheckMid(fuzz::Input& in) {
    const Str t = in.Text(40);
    const int start = in.Position(), n = in.Position();
    ExpectText(MidText(Text(t), start, n), RefMid(t, start, n), "MidText", Args({t}, {start, n}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Check = void (*)(fuzz::Input&);
    static constexpr Check checks[] = {CheckFind,      CheckReverseFind, CheckSplit,
                                       CheckTrimBoth,  CheckTextToInt,   CheckBetween,
                                       CheckReplaceAt, CheckMid};
    fuzz::Input in(data, size);
    checks[in.Byte() % std::size(checks)](in);
    return 0;
}
