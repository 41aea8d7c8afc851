// Text and Bytes as std::string, for comparing results in tests.
#pragma once

#include <string>

#include "text/text.h"

inline std::string S(const Text& t) {
    return std::string(t.view());
}

inline std::string S(const Bytes& b) {
    return b.empty() ? std::string()
                     : std::string(reinterpret_cast<const char*>(b.data()), b.size());
}
