#include "http/detail/wide.h"

namespace http::detail {

WideText::WideText(const Text& t) : units_(TextToWide(t, textCodePage, &length_)) {
    if (units_.empty()) length_ = 0;
}

LPCWSTR WideText::c_str() const {
    static const WCHAR empty[1] = {0};
    return units_.empty() ? empty : reinterpret_cast<LPCWSTR>(units_.data());
}

Text TextFromWide(const WCHAR* p, DWORD units) {
    const int bytes = static_cast<int>(units * sizeof(WCHAR));
    return WideToText(ConcatBytes(Bytes(p, bytes), BlankBytes(sizeof(WCHAR))));
}

}  // namespace http::detail
