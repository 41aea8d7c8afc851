// Plant classification behind a small interface, so that a model can be added later.
// No model ships with the project.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "service/picture.h"

namespace service {

struct PlantGuess {
    std::string name;  // UTF-8
    double score = 0;  // 0 to 1
};

class PlantClassifier {
  public:
    virtual ~PlantClassifier() = default;
    // False when no model is installed; Classify is not called then.
    virtual bool HasModel() const = 0;
    // The best guesses, most likely first.
    virtual std::vector<PlantGuess> Classify(const RgbImage& image) = 0;
};

// The classifier the service runs with: without a model.
std::unique_ptr<PlantClassifier> MakePlantClassifier();

}  // namespace service
