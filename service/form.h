// Request parsing: application/x-www-form-urlencoded fields (query strings and form bodies)
// and Base64.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Decodes one form value: "+" is a blank, "%XY" the byte 0xXY; a "%" without two hex digits
// after it stays as it is.
std::string PercentDecode(std::string_view text);

// Splits "a=1&b=2" into decoded name/value pairs in order; empty pieces are skipped, a piece
// without "=" has an empty value.
FormFields ParseForm(std::string_view text);

// The first value of name, or nothing.
std::optional<std::string> FindField(const FormFields& fields, std::string_view name);
size_t CountField(const FormFields& fields, std::string_view name);

// The query part of a request target ("/path?query" gives "query").
std::string_view QueryOf(std::string_view target);

// Standard Base64 (RFC 4648 section 4). Line breaks are skipped; a blank counts as "+",
// since a "+" that a client forgot to escape arrives as a blank after form decoding; the
// "=" padding may be left out. Anything else outside the alphabet, or a length no Base64
// text can have, gives nothing.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace service
