// UTF-16 texts for WinHTTP, made from and turned back into code-page-936 Text.
#pragma once

#include "platform/winapi.h"
#include "text/text.h"

namespace http::detail {

// A Text in UTF-16 with a terminating zero unit, and its length in units without it.
class WideText {
  public:
    explicit WideText(const Text& t);

    // Never null: the empty text gives an empty string.
    LPCWSTR c_str() const;
    LPWSTR data() { return const_cast<LPWSTR>(c_str()); }
    DWORD length() const { return static_cast<DWORD>(length_); }

  private:
    int length_ = 0;  // declared first: the conversion below writes it
    Bytes units_;
};

// The Text of the first `units` UTF-16 units at p.
Text TextFromWide(const WCHAR* p, DWORD units);

}  // namespace http::detail
