// Reads licence plates: finds plate-shaped regions (plate_finder.h) and reads each with the
// trained network (plate_model.h) until one reads as a plate number. A pool of engines, one
// picture per engine at a time.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/errors.h"
#include "service/image_info.h"
#include "service/plate_model.h"

namespace service {

struct PlateResult {
    std::optional<PlateReading> reading;
    const ServiceError* error = nullptr;  // set when there is no reading
};

class PlateReader {
  public:
    // Loads the model at modelPath (DefaultPlateModelPath() when empty). Without a usable
    // model the reader is not ready, and the reason goes to standard error, the service's
    // log.
    PlateReader(const std::string& modelPath, int engines);
    ~PlateReader();

    bool Ready() const { return model.has_value(); }
    const std::string& Problem() const { return problem; }

    // Decodes picture (its header already checked as info), at most maxSide a side, and
    // reads the plate in it; the decoding waits for a free engine, which bounds the memory
    // decoded pictures take. Errors: picture undecodable, reader not available, no plate.
    PlateResult ReadPicture(std::string_view picture, const ImageInfo& info, int maxSide);

    // Reads the plate in rgb (three channels, red first); nothing when none reads as a
    // plate number, or the reader is not ready.
    std::optional<PlateReading> Read(const cv::Mat& rgb);

  private:
    struct Engine;
    class Lease;

    Lease Acquire();
    void Release(std::unique_ptr<Engine> engine);
    std::optional<PlateReading> ReadWith(Engine& engine, const cv::Mat& rgb);

    std::optional<PlateModel> model;
    std::string problem;
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::unique_ptr<Engine>> idle;
};

}  // namespace service
