#include "service/plate_reader.h"

#include <tesseract/baseapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "service/plate_locator.h"
#include "service/province_matcher.h"

namespace service {

struct PlateReader::Engine {
    tesseract::TessBaseAPI province;  // chi_sim, the province characters only; unused with
                                      // the province templates
    tesseract::TessBaseAPI latin;     // eng, the plate letters and digits only
    bool loaded = false;
    bool ready = false;
};

namespace {

struct Symbol {
    std::string text;
    double confidence = 0;  // 0 to 1
};

std::string ProvinceWhitelist() {
    std::string all;
    for (const char* p : kProvinces)
        all += p;
    return all;
}

// Word lists only hurt plate numbers, which are no words.
bool LoadModel(tesseract::TessBaseAPI& api, const char* language, const std::string& whitelist) {
    std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg"};
    std::vector<std::string> values = {"0", "0"};
    if (api.Init(nullptr, language, tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) !=
        0) {
        return false;
    }
    api.SetVariable("debug_file", "/dev/null");
    api.SetVariable("tessedit_char_whitelist", whitelist.c_str());
    return true;
}

// The Chinese model is needed only where no font gives the province templates.
bool Load(PlateReader::Engine& engine) {
    if (!ProvinceMatcher::Shared().Ready() &&
        !LoadModel(engine.province, "chi_sim", ProvinceWhitelist())) {
        return false;
    }
    return LoadModel(engine.latin, "eng", kPlateAlphanumerics);
}

std::vector<Symbol> Symbols(tesseract::TessBaseAPI& api) {
    std::vector<Symbol> symbols;
    if (api.Recognize(nullptr) != 0) return symbols;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return symbols;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_SYMBOL));
        if (text && text[0] != '\0') {
            symbols.push_back({text.get(), it->Confidence(tesseract::RIL_SYMBOL) / 100.0});
        }
    } while (it->Next(tesseract::RIL_SYMBOL));
    return symbols;
}

std::vector<Symbol> Recognize(tesseract::TessBaseAPI& api, const GreyImage& image,
                              tesseract::PageSegMode mode) {
    api.SetPageSegMode(mode);
    api.SetImage(image.pixels.data(), image.width, image.height, 1, image.width);
    api.SetSourceResolution(300);
    std::vector<Symbol> symbols = Symbols(api);
    api.Clear();  // the results, after the iterator over them is gone
    return symbols;
}

// A character read with less confidence than this is read once more on its own.
constexpr double kSureCharacter = 0.9;

std::optional<PlateReading> ReadGlyphs(PlateReader::Engine& engine, const PlateGlyphs& glyphs) {
    std::vector<Symbol> province;
    const ProvinceMatcher& matcher = ProvinceMatcher::Shared();
    if (matcher.Ready()) {
        std::vector<ProvinceMatch> matches = matcher.Match(glyphs.province);
        if (!matches.empty()) province.push_back({matches[0].province, matches[0].score});
    } else {
        province = Recognize(engine.province, glyphs.province, tesseract::PSM_SINGLE_WORD);
    }
    if (province.empty()) return std::nullopt;
    std::vector<Symbol> tail = Recognize(engine.latin, glyphs.tail, tesseract::PSM_SINGLE_LINE);
    bool aligned = tail.size() == glyphs.tailCharacters.size();
    if (!aligned) tail.assign(glyphs.tailCharacters.size(), Symbol{});
    // Characters the line reading is unsure of (or all, when the line read a character too
    // many or too few) are read again one by one; the surer reading wins.
    for (size_t i = 0; i < tail.size(); ++i) {
        if (aligned && tail[i].confidence >= kSureCharacter) continue;
        // Single-character mode now and then finds nothing; word mode reads it then.
        for (tesseract::PageSegMode mode :
             {tesseract::PSM_SINGLE_CHAR, tesseract::PSM_SINGLE_WORD}) {
            std::vector<Symbol> one = Recognize(engine.latin, glyphs.tailCharacters[i], mode);
            if (one.size() == 1 && one[0].confidence > tail[i].confidence) tail[i] = one[0];
            if (one.size() == 1) break;
        }
        if (tail[i].text.empty()) return std::nullopt;
    }
    PlateReading reading;
    reading.number = province.front().text;
    double confidence = province.front().confidence;
    std::string tailText;
    for (size_t i = 0; i < tail.size(); ++i) {
        tailText += tail[i].text;
        confidence += tail[i].confidence;
    }
    reading.number += ApplySerialRules(tailText, glyphs.color);
    if (!IsPlateNumber(reading.number, glyphs.color)) return std::nullopt;
    reading.color =
        glyphs.color != PlateColor::Unknown ? glyphs.color : ColorOfNumber(reading.number);
    reading.confidence = std::clamp(confidence / double(tail.size() + 1), 0.0, 1.0);
    return reading;
}

}  // namespace

PlateReader::PlateReader(int engines) {
    for (int i = 0; i < std::max(1, engines); ++i)
        idle.push_back(std::make_unique<Engine>());
}

PlateReader::~PlateReader() = default;

PlateReader::Lease PlateReader::Acquire() {
    std::unique_lock lock(mutex);
    freed.wait(lock, [this] { return !idle.empty(); });
    std::unique_ptr<Engine> engine = std::move(idle.back());
    idle.pop_back();
    lock.unlock();
    if (!engine->loaded) {
        engine->loaded = true;
        engine->ready = Load(*engine);
    }
    return Lease(*this, std::move(engine));
}

void PlateReader::Release(std::unique_ptr<Engine> engine) {
    {
        std::lock_guard lock(mutex);
        idle.push_back(std::move(engine));
    }
    freed.notify_one();
}

PlateReader::Lease::Lease(PlateReader& owner, std::unique_ptr<Engine> engine)
    : owner(&owner), engine(std::move(engine)) {}

PlateReader::Lease::~Lease() {
    if (engine) owner->Release(std::move(engine));
}

bool PlateReader::Lease::Ready() const {
    return engine && engine->ready;
}

std::optional<PlateReading> PlateReader::Lease::Read(const RgbImage& image) {
    if (!Ready()) return std::nullopt;
    std::optional<PlateReading> best;
    for (const PlateGlyphs& glyphs : FindPlateGlyphs(image)) {
        std::optional<PlateReading> reading = ReadGlyphs(*engine, glyphs);
        if (reading && (!best || reading->confidence > best->confidence)) best = reading;
    }
    return best;
}

}  // namespace service
