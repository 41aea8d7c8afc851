// The numbering rules of mainland-China licence plates.
#pragma once

#include <string>
#include <string_view>

namespace service {

enum class PlateColor { Unknown, Blue, Green };

const char* ColorName(PlateColor color);

// The 31 province abbreviations, UTF-8, one character each.
extern const char* const provinceNames[31];
// The letters a plate uses: A to Z without I and O.
inline constexpr const char* plateLetters = "ABCDEFGHJKLMNPQRSTUVWXYZ";
inline constexpr const char* plateAlphanumerics = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789";

// Characters after the province abbreviation: the letter of the issuing office and the
// serial (5 on blue plates, 6 on green new-energy plates).
inline constexpr size_t blueTail = 6;
inline constexpr size_t greenTail = 7;

bool IsProvince(std::string_view character);

// True when number (UTF-8) is a province abbreviation, a letter and 5 (blue) or 6 (green)
// letters or digits, the green serial following the new-energy pattern; colour Unknown
// allows both lengths.
bool IsPlateNumber(std::string_view number, PlateColor color);

// The colour a valid number's length implies.
PlateColor ColorOfNumber(std::string_view number);

}  // namespace service
