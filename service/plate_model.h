// The plate reader's network: a convolutional network with a CTC output, trained by
// tools/plate-model/ and run through OpenCV's DNN module from an ONNX file. It reads a
// rectified plate as one line; the plate rules then pick each character among those its
// place allows.
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <optional>
#include <string>
#include <vector>

#include "service/plate_rules.h"

namespace service {

// The network's input: one grey plate, this size, as the finder's rectification gives it.
inline constexpr int plateInputWidth = 128;
inline constexpr int plateInputHeight = 32;
// Its output classes: blank, the 31 provinces, the 24 letters, the 10 digits.
inline constexpr int plateClasses = 1 + 31 + 24 + 10;

struct PlateReading {
    std::string number;  // UTF-8, e.g. "京A12345"
    PlateColor color = PlateColor::Unknown;
    double confidence = 0;  // the chance that every character is right, 0 to 1
    // The plate's corners in the picture's pixels (upright): top left, top right, bottom
    // right, bottom left.
    std::array<cv::Point, 4> box{};
};

// Where the model is looked for when no path is given: next to the executable, then under
// the install prefix's share/recognizer/.
std::string DefaultPlateModelPath();

// The model file, read and checked once; each engine makes its own network from it (an
// OpenCV network runs one input at a time).
class PlateModel {
  public:
    // Nothing when the file is missing, unreadable or not a network of the expected shape;
    // error then says why.
    static std::optional<PlateModel> Load(const std::string& path, std::string& error);

    // A network of its own for one engine; empty when OpenCV refuses the model.
    cv::dnn::Net MakeNet() const;

  private:
    std::vector<uchar> bytes;
};

// Runs net on a grey plateInputHeight x plateInputWidth plate; gives the class scores, one
// row of plateClasses probabilities a column of the plate, left to right. Empty on failure.
cv::Mat ReadScores(cv::dnn::Net& net, const cv::Mat& plate);

// Turns the per-column probabilities into a plate number: the CTC best path cuts the line
// into characters; each takes the best class its place allows (province, office letter,
// then the serial of a blue or a green plate), and the plate colour the number's length
// implies. Nothing when the line has no plate's length or the rules leave no choice.
std::optional<PlateReading> DecodePlateLine(const cv::Mat& probabilities);

}  // namespace service
