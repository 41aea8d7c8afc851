#include "service/plant_classifier.h"

namespace service {
namespace {

class NoModel : public PlantClassifier {
  public:
    bool HasModel() const override { return false; }
    std::vector<PlantGuess> Classify(const RgbImage&) override { return {}; }
};

}  // namespace

std::unique_ptr<PlantClassifier> MakePlantClassifier() {
    return std::make_unique<NoModel>();
}

}  // namespace service
