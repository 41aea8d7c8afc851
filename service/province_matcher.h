// Recognises the province character of a plate by matching it against the 31 province
// abbreviations drawn from the installed CJK fonts (fonts-noto-cjk). Tesseract's Chinese
// model reads such single, condensed plate glyphs poorly; with 31 classes a matcher is
// both faster and far more reliable.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service/plate_locator.h"

namespace service {

struct ProvinceMatch {
    std::string province;  // UTF-8
    double score = 0;      // correlation, -1 to 1
};

class ProvinceMatcher {
  public:
    // The matcher of the process; the fonts are read once, on first use.
    static const ProvinceMatcher& Shared();

    // False when no CJK font was found.
    bool Ready() const { return !templates.empty(); }
    // The best matches, best first.
    std::vector<ProvinceMatch> Match(const GreyImage& glyph) const;

  private:
    struct Template {
        int province;  // index into kProvinces
        std::vector<float> features;
    };
    void Load();

    std::vector<Template> templates;
};

}  // namespace service
