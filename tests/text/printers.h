// Readable values in test failure messages: bytes outside printable ASCII as \xHH.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

#include "text/text.h"

inline std::string Escaped(std::string_view v) {
    std::string out;
    for (unsigned char c : v) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", c);
        out += escape;
    }
    return out;
}

inline void PrintTo(const Text& t, std::ostream* os) {
    *os << '"' << Escaped(t.view()) << '"';
}

inline void PrintTo(const Bytes& b, std::ostream* os) {
    *os << "bytes\""
        << Escaped({reinterpret_cast<const char*>(b.data()), static_cast<std::size_t>(b.size())})
        << '"';
}

// Bytes from a literal that may hold zero bytes: B("a\0b") is three bytes.
template <std::size_t N>
Bytes B(const char (&s)[N]) {
    return Bytes(s, static_cast<int>(N - 1));
}
