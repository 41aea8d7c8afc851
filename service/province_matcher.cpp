#include "service/province_matcher.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>

namespace service {
namespace {

// Glyphs are compared as this many cells a side, stretched to fill them: plate characters
// are condensed, font characters square.
constexpr int kCells = 32;
// Size the font glyphs are drawn at; well above kCells, so that cells average many pixels.
constexpr int kDrawSize = 96;
// Intensity (0 paper, 255 ink) from which a pixel counts for the glyph's extent.
constexpr int kInkLevel = 96;

// Fonts whose Simplified Chinese faces give the templates. Several weights and styles, so
// that no single font's stroke shapes decide; missing files are skipped.
const char* const kFontFiles[] = {
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Medium.ttc",
    "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc",
    "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
};

// The code point of a three-byte UTF-8 character.
unsigned CodePoint(const char* utf8) {
    auto b = [utf8](int i) { return unsigned(static_cast<unsigned char>(utf8[i])); };
    return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
}

// Features of an ink image (0 paper, 255 ink): the extent of the ink stretched to
// kCells x kCells by area sampling, then brought to zero mean and unit length.
std::vector<float> Features(const uint8_t* ink, int width, int height, int stride) {
    int x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (ink[y * stride + x] < kInkLevel) continue;
            x0 = std::min(x0, x), x1 = std::max(x1, x);
            y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    }
    if (x1 < x0) return {};
    std::vector<float> cells(kCells * kCells, 0);
    double cw = double(x1 - x0 + 1) / kCells, ch = double(y1 - y0 + 1) / kCells;
    for (int cy = 0; cy < kCells; ++cy) {
        int sy0 = y0 + int(cy * ch), sy1 = std::max(sy0 + 1, y0 + int((cy + 1) * ch));
        for (int cx = 0; cx < kCells; ++cx) {
            int sx0 = x0 + int(cx * cw), sx1 = std::max(sx0 + 1, x0 + int((cx + 1) * cw));
            double sum = 0;
            for (int y = sy0; y < std::min(sy1, y1 + 1); ++y) {
                for (int x = sx0; x < std::min(sx1, x1 + 1); ++x)
                    sum += ink[y * stride + x];
            }
            cells[cy * kCells + cx] = float(sum / ((sy1 - sy0) * (sx1 - sx0)));
        }
    }
    double mean = 0;
    for (float v : cells)
        mean += v;
    mean /= cells.size();
    double norm = 0;
    for (float& v : cells) {
        v = float(v - mean);
        norm += double(v) * v;
    }
    if (norm <= 0) return {};
    norm = std::sqrt(norm);
    for (float& v : cells)
        v = float(v / norm);
    return cells;
}

struct FreeTypeLibrary {
    FT_Library library = nullptr;
    FreeTypeLibrary() {
        if (FT_Init_FreeType(&library) != 0) library = nullptr;
    }
    ~FreeTypeLibrary() {
        if (library) FT_Done_FreeType(library);
    }
};

struct Face {
    FT_Face face = nullptr;
    ~Face() {
        if (face) FT_Done_Face(face);
    }
};

}  // namespace

const ProvinceMatcher& ProvinceMatcher::Shared() {
    static const ProvinceMatcher matcher = [] {
        ProvinceMatcher m;
        m.Load();
        return m;
    }();
    return matcher;
}

void ProvinceMatcher::Load() {
    FreeTypeLibrary freetype;
    if (!freetype.library) return;
    for (const char* file : kFontFiles) {
        Face probe;
        if (FT_New_Face(freetype.library, file, 0, &probe.face) != 0) continue;
        // A collection holds one face per region; take the Simplified Chinese one.
        for (FT_Long index = 0; index < probe.face->num_faces; ++index) {
            Face face;
            if (FT_New_Face(freetype.library, file, index, &face.face) != 0) continue;
            if (!face.face->family_name || !std::strstr(face.face->family_name, " SC")) continue;
            if (FT_Set_Pixel_Sizes(face.face, 0, kDrawSize) != 0) continue;
            for (int p = 0; p < 31; ++p) {
                if (FT_Load_Char(face.face, CodePoint(kProvinces[p]), FT_LOAD_RENDER) != 0) {
                    continue;
                }
                const FT_Bitmap& bitmap = face.face->glyph->bitmap;
                if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.pitch <= 0) continue;
                std::vector<float> features =
                    Features(bitmap.buffer, int(bitmap.width), int(bitmap.rows), bitmap.pitch);
                if (!features.empty()) templates.push_back({p, std::move(features)});
            }
            break;
        }
    }
}

std::vector<ProvinceMatch> ProvinceMatcher::Match(const GreyImage& glyph) const {
    std::vector<uint8_t> ink(glyph.pixels.size());
    for (size_t i = 0; i < ink.size(); ++i)
        ink[i] = 255 - glyph.pixels[i];
    std::vector<float> features = Features(ink.data(), glyph.width, glyph.height, glyph.width);
    if (features.empty()) return {};
    std::vector<double> best(31, -1);
    for (const Template& t : templates) {
        double score = 0;
        for (size_t i = 0; i < features.size(); ++i)
            score += features[i] * t.features[i];
        best[t.province] = std::max(best[t.province], score);
    }
    std::vector<ProvinceMatch> matches;
    for (int p = 0; p < 31; ++p) {
        if (best[p] > -1) matches.push_back({kProvinces[p], best[p]});
    }
    std::sort(matches.begin(), matches.end(),
              [](const ProvinceMatch& a, const ProvinceMatch& b) { return a.score > b.score; });
    return matches;
}

}  // namespace service
