#include "service/plate_reader.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <opencv2/core/utility.hpp>

#include "service/picture.h"
#include "service/plate_finder.h"

namespace service {
namespace {

// A reading this sure ends the search; candidates further down are not read.
constexpr double sureReading = 0.9;
// Readings less sure than this are taken for chance shapes, not plates.
constexpr double minReading = 0.1;
// A candidate that gives no sure reading is read once more cut closer: plates whose
// characters are small for the plate (wide margins, a rim) read better so.
constexpr float closerAlong = 0.85f, closerAcross = 0.8f;

std::optional<PlateReading> ReadCandidate(cv::dnn::Net& net, const cv::Mat& rgb,
                                          const PlateCandidate& candidate) {
    std::optional<PlateReading> reading =
        DecodePlateLine(ReadScores(net, RectifyPlate(rgb, candidate)));
    if (reading && reading->confidence >= sureReading) return reading;
    std::optional<PlateReading> closer = DecodePlateLine(
        ReadScores(net, RectifyPlate(rgb, Scaled(candidate, closerAlong, closerAcross))));
    if (closer && (!reading || closer->confidence > reading->confidence)) return closer;
    return reading;
}

}  // namespace

struct PlateReader::Engine {
    cv::dnn::Net net;
};

// A borrowed engine, back in the pool when the lease ends.
class PlateReader::Lease {
  public:
    Lease(PlateReader& owner, std::unique_ptr<Engine> engine)
        : owner(owner), engine(std::move(engine)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { owner.Release(std::move(engine)); }
    Engine& operator*() { return *engine; }

  private:
    PlateReader& owner;
    std::unique_ptr<Engine> engine;
};

PlateReader::PlateReader(const std::string& modelPath, int engines) {
    // OpenCV's own threads, for image work and the network, no more than the engines: a
    // service told to use one thread (a replica among several) reads on one.
    cv::setNumThreads(std::max(1, engines));
    std::string path = modelPath.empty() ? DefaultPlateModelPath() : modelPath;
    model = PlateModel::Load(path, problem);
    if (!model) {
        std::cerr << "recognition-service: plate reader not available: " << problem << std::endl;
        return;
    }
    for (int i = 0; i < std::max(1, engines); ++i) {
        auto engine = std::make_unique<Engine>();
        engine->net = model->MakeNet();
        idle.push_back(std::move(engine));
    }
}

PlateReader::~PlateReader() = default;

PlateReader::Lease PlateReader::Acquire() {
    std::unique_lock lock(mutex);
    freed.wait(lock, [this] { return !idle.empty(); });
    std::unique_ptr<Engine> engine = std::move(idle.back());
    idle.pop_back();
    return Lease(*this, std::move(engine));
}

void PlateReader::Release(std::unique_ptr<Engine> engine) {
    {
        std::lock_guard lock(mutex);
        idle.push_back(std::move(engine));
    }
    freed.notify_one();
}

PlateResult PlateReader::ReadPicture(std::string_view picture, const ImageInfo& info, int maxSide) {
    if (!Ready()) {
        // Undecodable pictures get their own answer even so.
        if (!DecodePicture(picture, info, maxSide)) return {std::nullopt, &imageUndecodable};
        return {std::nullopt, &plateReaderUnavailable};
    }
    Lease lease = Acquire();
    std::optional<RgbImage> image = DecodePicture(picture, info, maxSide);
    if (!image) return {std::nullopt, &imageUndecodable};
    cv::Mat rgb(image->height, image->width, CV_8UC3, image->pixels.data());
    std::optional<PlateReading> reading = ReadWith(*lease, rgb);
    if (!reading) return {std::nullopt, &noPlate};
    // The corners in the picture's own pixels: it may have been decoded smaller.
    bool turned = info.orientation >= 5;  // a quarter turn swaps the sides
    double sx = double(turned ? info.height : info.width) / image->width;
    double sy = double(turned ? info.width : info.height) / image->height;
    for (cv::Point& p : reading->box)
        p = cv::Point(int(std::lround(p.x * sx)), int(std::lround(p.y * sy)));
    return {reading, nullptr};
}

std::optional<PlateReading> PlateReader::Read(const cv::Mat& rgb) {
    if (!Ready()) return std::nullopt;
    Lease lease = Acquire();
    return ReadWith(*lease, rgb);
}

std::optional<PlateReading> PlateReader::ReadWith(Engine& engine, const cv::Mat& rgb) {
    std::optional<PlateReading> best;
    for (const PlateCandidate& candidate : FindPlateCandidates(rgb)) {
        std::optional<PlateReading> reading = ReadCandidate(engine.net, rgb, candidate);
        if (!reading || reading->confidence < minReading) continue;
        for (int i = 0; i < 4; ++i) {
            cv::Point2f corner = candidate.corners[i];
            reading->box[i] = cv::Point(std::clamp(int(std::lround(corner.x)), 0, rgb.cols),
                                        std::clamp(int(std::lround(corner.y)), 0, rgb.rows));
        }
        if (!best || reading->confidence > best->confidence) best = reading;
        if (best->confidence >= sureReading) break;
    }
    return best;
}

}  // namespace service
