// Reading the cookies of an answer's raw header block.
#pragma once

#include <vector>

#include "text/text.h"

namespace http::detail {

// The cookie texts of every "Set-Cookie:" (any letter case) in the header block, in order: the
// bytes behind the marker, leading blanks removed, through the ";" that ends the name=value,
// the ";" included. A line whose value has no ";" ends at its own line end (or at the end of the
// block), which then counts as that ";": the cookie text is read as if the line ended with ";"
// and the lines after it are still scanned.
std::vector<Text> SetCookieTexts(const Text& headers);

// Where a cookie value starting at position from ends: the position of the next ";" or of the
// line end, whichever comes first; the position behind the block when there is neither.
int CookieValueEnd(const Text& headers, int from);

// The cookie text ends with "=deleted;", "=DELETED;" or "=Deleted;" (exactly these spellings).
bool HasDeletedMarker(const Text& cookieText);

}  // namespace http::detail
