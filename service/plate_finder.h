// Finds licence plates in a picture and rectifies them for the reader (OpenCV).
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

#include "service/plate_rules.h"

namespace service {

struct PlateCandidate {
    PlateColor color = PlateColor::Unknown;
    // The plate's corners in the picture's pixels: top left, top right, bottom right,
    // bottom left.
    std::array<cv::Point2f, 4> corners;
    double plausibility = 0;  // higher first
};

// Plate-shaped regions of rgb (8-bit, three channels, red first), the most plausible first:
// blue and green regions of a plate's proportions, regions dense with upright strokes (for
// plates on a car of their own colour), and last the whole picture (close-ups).
std::vector<PlateCandidate> FindPlateCandidates(const cv::Mat& rgb);

// The candidate with its sides scaled about its centre: along its long axis by along,
// across it by across (below 1: a closer cut).
PlateCandidate Scaled(const PlateCandidate& candidate, float along, float across);

// The candidate warped to a grey plateInputHeight x plateInputWidth plate.
cv::Mat RectifyPlate(const cv::Mat& rgb, const PlateCandidate& candidate);

}  // namespace service
