#include "app/toolkit/win32/wide_text.h"

#include <cwchar>

namespace toolkit::win32 {

std::wstring ToWide(const Text& text) {
    Bytes wide = TextToWide(text);  // with one terminating zero unit
    if (wide.size() < int(sizeof(wchar_t))) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()),
                        wide.size() / sizeof(wchar_t) - 1);
}

Text FromWide(const wchar_t* wide) {
    if (!wide) return {};
    return WideToText(Bytes(wide, int((std::wcslen(wide) + 1) * sizeof(wchar_t))));
}

}  // namespace toolkit::win32
