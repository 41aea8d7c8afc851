// The string helpers the POSIX implementations of the Windows DLLs share (ASCII rules only:
// header names, URL schemes, cookie attributes and proxy lists are ASCII).
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

inline std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = LowerAscii(c);
    return out;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// Without the blanks (spaces and tabs) at either end.
inline std::string Trim(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(start, end - start + 1));
}

// Calls visit(entry) for each non-empty entry of a list separated by any of `separators`,
// until visit returns false.
template <typename Visit>
void ForEachEntry(std::string_view list, std::string_view separators, Visit visit) {
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find_first_of(separators, start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view entry = list.substr(start, end - start);
        start = end + 1;
        if (!entry.empty() && !visit(entry)) return;
    }
}

}  // namespace platform::posix
