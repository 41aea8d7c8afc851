// Finds the licence plate in a picture and cuts its characters out as clean black-on-white
// glyphs for the character reader.
#pragma once

#include <cstdint>
#include <vector>

#include "service/picture.h"
#include "service/plate_rules.h"

namespace service {

// One byte a pixel; 0 is ink, 255 paper.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

struct PlateGlyphs {
    PlateColor color = PlateColor::Unknown;
    GreyImage province;                     // the first character alone
    GreyImage tail;                         // the letter and the serial, evenly spaced on one line
    std::vector<GreyImage> tailCharacters;  // the same characters one by one
};

// Candidate readings of the plate that is the main subject of the picture: located by the
// blue or green of the plate where there is one, else the whole picture. Where the colour
// is unknown there is one candidate per plate length. Empty when no row of characters is
// found.
std::vector<PlateGlyphs> FindPlateGlyphs(const RgbImage& image);

}  // namespace service
