// Reads licence plates with Tesseract: a pool of engines, one picture per engine at a time.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/picture.h"
#include "service/plate_rules.h"

namespace service {

struct PlateReading {
    std::string number;  // UTF-8, e.g. "京A12345"
    PlateColor color = PlateColor::Unknown;
    double confidence = 0;  // 0 to 1
};

class PlateReader {
  public:
    struct Engine;

    // A borrowed engine; back in the pool when the lease ends. Holding a lease is also what
    // allows a picture to be decoded, which bounds the memory of decoded pictures.
    class Lease {
      public:
        Lease(PlateReader& owner, std::unique_ptr<Engine> engine);
        Lease(Lease&&) = default;
        ~Lease();
        // False when Tesseract or its models could not be loaded.
        bool Ready() const;
        std::optional<PlateReading> Read(const RgbImage& image);

      private:
        PlateReader* owner;
        std::unique_ptr<Engine> engine;
    };

    explicit PlateReader(int engines);
    ~PlateReader();

    // Waits for a free engine; engines load their models on first use.
    Lease Acquire();

  private:
    void Release(std::unique_ptr<Engine> engine);

    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::unique_ptr<Engine>> idle;
};

}  // namespace service
