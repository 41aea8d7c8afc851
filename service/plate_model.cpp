#include "service/plate_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace service {
namespace {

constexpr const char* modelFile = "plate-reader.onnx";
// A model far larger than ours is no model of ours; reading it would only waste memory.
constexpr std::uintmax_t maxModelBytes = 64 * 1024 * 1024;

// Class numbers: 0 blank, then the provinces, the letters and the digits.
constexpr int firstProvince = 1;
constexpr int firstLetter = firstProvince + 31;
constexpr int firstDigit = firstLetter + 24;

std::string ClassText(int k) {
    if (k < firstLetter) return provinceNames[k - firstProvince];
    if (k < firstDigit) return std::string(1, plateLetters[k - firstLetter]);
    return std::string(1, char('0' + k - firstDigit));
}

int LetterClass(char c) {
    return firstLetter + int(std::string_view(plateLetters).find(c));
}

// The classes one place of a number allows.
struct Allowed {
    int from = 0, to = 0;     // a range of classes
    bool energyMark = false;  // D or F only
};
constexpr Allowed provinceSlot{firstProvince, firstLetter};
constexpr Allowed letterSlot{firstLetter, firstDigit};
constexpr Allowed alphanumericSlot{firstLetter, plateClasses};
constexpr Allowed digitSlot{firstDigit, plateClasses};
constexpr Allowed energyMarkSlot{0, 0, true};

using Pattern = std::vector<Allowed>;

// Blue plates: province, letter, five letters or digits. Green plates: province, letter,
// then D or F, a letter or digit and four digits (small vehicles), or five digits and D or
// F (large vehicles).
const std::array<Pattern, 3> patterns = {
    Pattern{provinceSlot, letterSlot, alphanumericSlot, alphanumericSlot, alphanumericSlot,
            alphanumericSlot, alphanumericSlot},
    Pattern{provinceSlot, letterSlot, energyMarkSlot, alphanumericSlot, digitSlot, digitSlot,
            digitSlot, digitSlot},
    Pattern{provinceSlot, letterSlot, digitSlot, digitSlot, digitSlot, digitSlot, digitSlot,
            energyMarkSlot},
};

// One character of the line: the columns the best path gives it.
struct Span {
    int first = 0, last = 0;
};

std::vector<Span> BestPathSpans(const cv::Mat& p) {
    std::vector<Span> spans;
    int previous = 0;
    for (int t = 0; t < p.rows; ++t) {
        cv::Point best;
        cv::minMaxLoc(p.row(t), nullptr, nullptr, nullptr, &best);
        int k = best.x;
        if (k != 0 && k == previous) spans.back().last = t;
        if (k != 0 && k != previous) spans.push_back({t, t});
        previous = k;
    }
    return spans;
}

// The character's probability for class k: its peak over the span's columns.
float SpanScore(const cv::Mat& p, const Span& span, int k) {
    float best = 0;
    for (int t = span.first; t <= span.last; ++t)
        best = std::max(best, p.at<float>(t, k));
    return best;
}

struct Choice {
    int k = 0;
    float score = 0;
};

Choice BestAllowed(const cv::Mat& p, const Span& span, const Allowed& allowed) {
    Choice best;
    auto consider = [&](int k) {
        float score = SpanScore(p, span, k);
        if (score > best.score) best = {k, score};
    };
    if (allowed.energyMark) {
        consider(LetterClass('D'));
        consider(LetterClass('F'));
        return best;
    }
    for (int k = allowed.from; k < allowed.to; ++k)
        consider(k);
    return best;
}

}  // namespace

std::string DefaultPlateModelPath() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return modelFile;
    std::filesystem::path dir = exe.parent_path();
    std::filesystem::path installed = dir.parent_path() / "share" / "recognizer" / modelFile;
    if (!std::filesystem::exists(dir / modelFile, error) &&
        std::filesystem::exists(installed, error)) {
        return installed.string();
    }
    return (dir / modelFile).string();
}

std::optional<PlateModel> PlateModel::Load(const std::string& path, std::string& error) {
    std::error_code code;
    std::uintmax_t size = std::filesystem::file_size(path, code);
    if (code) {
        error = "cannot read the model " + path + ": " + code.message();
        return std::nullopt;
    }
    if (size == 0 || size > maxModelBytes) {
        error = "the model " + path + " has " + std::to_string(size) + " bytes";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    PlateModel model;
    model.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        error = "cannot read the model " + path;
        return std::nullopt;
    }
    cv::dnn::Net net = model.MakeNet();
    if (net.empty()) {
        error = "the model " + path + " is not a network OpenCV can load";
        return std::nullopt;
    }
    cv::Mat scores = ReadScores(net, cv::Mat(plateInputHeight, plateInputWidth, CV_8U, 128));
    if (scores.empty()) {
        error = "the model " + path + " does not give " + std::to_string(plateClasses) +
                " class scores a column for a " + std::to_string(plateInputHeight) + " x " +
                std::to_string(plateInputWidth) + " plate";
        return std::nullopt;
    }
    return model;
}

cv::dnn::Net PlateModel::MakeNet() const {
    try {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(bytes);
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        return net;
    } catch (const cv::Exception&) {
        return {};
    }
}

cv::Mat ReadScores(cv::dnn::Net& net, const cv::Mat& plate) {
    if (net.empty() || plate.type() != CV_8U || plate.cols != plateInputWidth ||
        plate.rows != plateInputHeight) {
        return {};
    }
    cv::Mat out;
    try {
        // The training's scaling: -1 (black) to 1 (white).
        net.setInput(cv::dnn::blobFromImage(plate, 1 / 127.5, cv::Size(), cv::Scalar(127.5)));
        out = net.forward();
    } catch (const cv::Exception&) {
        return {};
    }
    // N x classes x 1 x columns
    if (out.dims != 4 || out.size[0] != 1 || out.size[1] != plateClasses || out.size[2] != 1 ||
        out.size[3] < 8 || out.type() != CV_32F) {
        return {};
    }
    int columns = out.size[3];
    cv::Mat scores = cv::Mat(plateClasses, columns, CV_32F, out.ptr<float>()).t();
    // Softmax along each row.
    cv::Mat probabilities(scores.size(), CV_32F);
    for (int t = 0; t < columns; ++t) {
        double top = 0;
        cv::minMaxLoc(scores.row(t), nullptr, &top);
        cv::Mat e;
        cv::exp(scores.row(t) - top, e);
        e /= cv::sum(e)[0];
        e.copyTo(probabilities.row(t));
    }
    return probabilities;
}

std::optional<PlateReading> DecodePlateLine(const cv::Mat& p) {
    if (p.empty() || p.type() != CV_32F || p.cols != plateClasses) return std::nullopt;
    std::vector<Span> spans = BestPathSpans(p);
    std::optional<PlateReading> best;
    for (const Pattern& pattern : patterns) {
        if (pattern.size() != spans.size()) continue;
        PlateReading reading;
        reading.confidence = 1;
        for (size_t i = 0; i < spans.size(); ++i) {
            Choice choice = BestAllowed(p, spans[i], pattern[i]);
            if (choice.k == 0) return std::nullopt;  // no probability at all (NaN scores)
            reading.number += ClassText(choice.k);
            reading.confidence *= choice.score;
        }
        if (best && best->confidence >= reading.confidence) continue;
        reading.color = ColorOfNumber(reading.number);
        if (reading.color != PlateColor::Unknown) best = reading;
    }
    return best;
}

}  // namespace service
