#include "service/plate_rules.h"

#include <cstring>

namespace service {

const char* const provinceNames[31] = {
    "京", "津", "沪", "渝", "冀", "豫", "云", "辽", "黑", "湘", "皖", "鲁", "新", "苏", "浙", "赣",
    "鄂", "桂", "甘", "晋", "蒙", "陕", "吉", "闽", "贵", "粤", "青", "藏", "川", "宁", "琼"};

namespace {

// Every province abbreviation is one CJK character: three bytes of UTF-8.
constexpr size_t provinceBytes = 3;

bool InSet(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsEnergyMark(char c) {
    return c == 'D' || c == 'F';
}

// The serial of a green plate (six characters after the office letter): D or F, a letter
// or digit, four digits; or five digits, then D or F.
bool IsGreenSerial(std::string_view serial) {
    if (serial.size() != 6) return false;
    auto digits = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            if (!IsDigit(serial[i])) return false;
        }
        return true;
    };
    bool small = IsEnergyMark(serial[0]) && InSet(serial[1], plateAlphanumerics) && digits(2, 6);
    bool large = digits(0, 5) && IsEnergyMark(serial[5]);
    return small || large;
}

}  // namespace

const char* ColorName(PlateColor color) {
    switch (color) {
        case PlateColor::Blue:
            return "blue";
        case PlateColor::Green:
            return "green";
        case PlateColor::Unknown:
            break;
    }
    return "unknown";
}

bool IsProvince(std::string_view character) {
    for (const char* province : provinceNames) {
        if (character == province) return true;
    }
    return false;
}

bool IsPlateNumber(std::string_view number, PlateColor color) {
    if (number.size() < provinceBytes || !IsProvince(number.substr(0, provinceBytes))) {
        return false;
    }
    std::string_view tail = number.substr(provinceBytes);
    bool lengthOk = color == PlateColor::Blue ? tail.size() == blueTail
                    : color == PlateColor::Green
                        ? tail.size() == greenTail
                        : tail.size() == blueTail || tail.size() == greenTail;
    if (!lengthOk || !InSet(tail[0], plateLetters)) return false;
    for (char c : tail.substr(1)) {
        if (!InSet(c, plateAlphanumerics)) return false;
    }
    return tail.size() != greenTail || IsGreenSerial(tail.substr(1));
}

PlateColor ColorOfNumber(std::string_view number) {
    if (!IsPlateNumber(number, PlateColor::Unknown)) return PlateColor::Unknown;
    return number.size() - provinceBytes == blueTail ? PlateColor::Blue : PlateColor::Green;
}

}  // namespace service
