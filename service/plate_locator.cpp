#include "service/plate_locator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace service {
namespace {

// Cells of the colour search grid along the longer side of the picture.
constexpr int kGridCells = 160;
// A cell counts as plate-coloured when this share of its pixels is.
constexpr double kCellShare = 0.45;
// Plate regions below this width in pixels hold no readable characters.
constexpr int kMinPlateWidth = 40;
// Width to height of the plates: 440 x 140 mm blue, 480 x 140 mm green.
constexpr double kBlueAspect = 440.0 / 140.0;
constexpr double kGreenAspect = 480.0 / 140.0;
// Rows of the plate crop the characters are segmented at; the characters come out about
// 80 pixels tall, enough for the strokes of the province characters.
constexpr int kPlateHeight = 150;
constexpr int kMaxPlateWidth = 8 * kPlateHeight;
// Paper around the glyphs handed to the reader, in pixels.
constexpr int kGlyphPad = 10;

struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1 and y1 exclusive
    int Width() const { return x1 - x0; }
    int Height() const { return y1 - y0; }
    void Add(const Box& o) {
        x0 = std::min(x0, o.x0);
        y0 = std::min(y0, o.y0);
        x1 = std::max(x1, o.x1);
        y1 = std::max(y1, o.y1);
    }
};

PlateColor ColorOfPixel(int r, int g, int b) {
    int mx = std::max({r, g, b});
    int mn = std::min({r, g, b});
    int d = mx - mn;
    if (mx < 60 || d * 100 < mx * 18) return PlateColor::Unknown;
    double hue = mx == r   ? 60.0 * (g - b) / d
                 : mx == g ? 60.0 * ((b - r) / double(d) + 2)
                           : 60.0 * ((r - g) / double(d) + 4);
    if (hue < 0) hue += 360;
    if (hue >= 190 && hue <= 255 && d * 100 >= mx * 35) return PlateColor::Blue;
    if (hue >= 70 && hue <= 170 && mx >= 80) return PlateColor::Green;
    return PlateColor::Unknown;
}

struct Region {
    Box box;
    PlateColor color = PlateColor::Unknown;
    int area = 0;
};

// The largest plate-shaped blob of one colour on the cell grid, in grid units.
Region LargestBlob(const std::vector<uint8_t>& on, int gw, int gh, PlateColor color) {
    Region best;
    std::vector<uint8_t> seen(on.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < gw * gh; ++start) {
        if (!on[start] || seen[start]) continue;
        Box box{start % gw, start / gw, start % gw + 1, start / gw + 1};
        int area = 0;
        stack.assign(1, start);
        seen[start] = 1;
        while (!stack.empty()) {
            int cell = stack.back();
            stack.pop_back();
            int x = cell % gw, y = cell / gw;
            ++area;
            box.Add({x, y, x + 1, y + 1});
            const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : next) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= gw || n[1] >= gh) continue;
                int id = n[1] * gw + n[0];
                if (on[id] && !seen[id]) {
                    seen[id] = 1;
                    stack.push_back(id);
                }
            }
        }
        double aspect = double(box.Width()) / box.Height();
        double fill = double(area) / (box.Width() * box.Height());
        if (box.Width() >= 4 && aspect >= 1.5 && aspect <= 8 && fill >= 0.35 && area > best.area) {
            best = {box, color, area};
        }
    }
    return best;
}

// The plate by its colour, in pixels with a margin; the whole picture when no blob is found.
Region LocateByColor(const RgbImage& image) {
    int cell = std::max(1, (std::max(image.width, image.height) + kGridCells - 1) / kGridCells);
    int gw = (image.width + cell - 1) / cell, gh = (image.height + cell - 1) / cell;
    std::vector<int> blue(size_t(gw) * gh), green(size_t(gw) * gh), total(size_t(gw) * gh);
    int step = cell >= 4 ? 2 : 1;  // every other pixel is plenty in large cells
    for (int y = 0; y < image.height; y += step) {
        for (int x = 0; x < image.width; x += step) {
            const uint8_t* p = image.At(x, y);
            size_t id = size_t(y / cell) * gw + x / cell;
            PlateColor c = ColorOfPixel(p[0], p[1], p[2]);
            blue[id] += c == PlateColor::Blue;
            green[id] += c == PlateColor::Green;
            ++total[id];
        }
    }
    std::vector<uint8_t> blueOn(blue.size()), greenOn(green.size());
    for (size_t i = 0; i < total.size(); ++i) {
        blueOn[i] = blue[i] >= kCellShare * total[i] && total[i] > 0;
        greenOn[i] = green[i] >= kCellShare * total[i] && total[i] > 0;
    }
    Region b = LargestBlob(blueOn, gw, gh, PlateColor::Blue);
    Region g = LargestBlob(greenOn, gw, gh, PlateColor::Green);
    Region best = b.area >= g.area ? b : g;
    Region whole{{0, 0, image.width, image.height}, PlateColor::Unknown, 0};
    if (best.area == 0 || best.box.Width() * cell < kMinPlateWidth) return whole;

    Box box{best.box.x0 * cell, best.box.y0 * cell, std::min(image.width, best.box.x1 * cell),
            std::min(image.height, best.box.y1 * cell)};
    // The top of a green plate fades to white: grow the box upwards to the plate's shape.
    double aspect = best.color == PlateColor::Green ? kGreenAspect : kBlueAspect;
    int expected = int(box.Width() / aspect);
    if (box.Height() < expected * 0.85) {
        int missing = expected - box.Height();
        box.y0 -= missing;
        if (box.y0 < 0) box.y1 -= box.y0, box.y0 = 0;
    }
    int padX = box.Width() / 25, padY = box.Height() / 10;
    best.box = {std::max(0, box.x0 - padX), std::max(0, box.y0 - padY),
                std::min(image.width, box.x1 + padX), std::min(image.height, box.y1 + padY)};
    return best;
}

// Grey values of the crop in which ink (the characters) is dark: white characters on blue,
// black characters on green, plain brightness where the colour is unknown.
uint8_t InkGrey(const uint8_t* p, PlateColor color) {
    switch (color) {
        case PlateColor::Blue:
            return 255 - std::min({p[0], p[1], p[2]});
        case PlateColor::Green:
            return std::max({p[0], p[1], p[2]});
        case PlateColor::Unknown:
            break;
    }
    return uint8_t((p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000);
}

// The crop in grey, scaled to kPlateHeight rows: averaged down, then bilinear.
GreyImage ScaledCrop(const RgbImage& image, const Box& box, PlateColor color) {
    int factor = std::max(1, box.Height() / (2 * kPlateHeight));
    int sw = box.Width() / factor, sh = box.Height() / factor;
    std::vector<float> small(size_t(sw) * sh);
    for (int y = 0; y < sh; ++y) {
        for (int x = 0; x < sw; ++x) {
            int sum = 0;
            for (int dy = 0; dy < factor; ++dy) {
                for (int dx = 0; dx < factor; ++dx) {
                    sum += InkGrey(image.At(box.x0 + x * factor + dx, box.y0 + y * factor + dy),
                                   color);
                }
            }
            small[size_t(y) * sw + x] = float(sum) / (factor * factor);
        }
    }
    GreyImage out;
    out.height = kPlateHeight;
    out.width = std::clamp(int(std::lround(double(sw) * kPlateHeight / sh)), 1, kMaxPlateWidth);
    out.pixels.resize(size_t(out.width) * out.height);
    double sx = double(sw) / out.width, sy = double(sh) / out.height;
    for (int y = 0; y < out.height; ++y) {
        double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, sh - 1.0);
        int y0 = int(fy), y1 = std::min(y0 + 1, sh - 1);
        double wy = fy - y0;
        for (int x = 0; x < out.width; ++x) {
            double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, sw - 1.0);
            int x0 = int(fx), x1 = std::min(x0 + 1, sw - 1);
            double wx = fx - x0;
            double top = small[size_t(y0) * sw + x0] * (1 - wx) + small[size_t(y0) * sw + x1] * wx;
            double bottom =
                small[size_t(y1) * sw + x0] * (1 - wx) + small[size_t(y1) * sw + x1] * wx;
            out.pixels[size_t(y) * out.width + x] = uint8_t(top * (1 - wy) + bottom * wy + 0.5);
        }
    }
    return out;
}

int OtsuThreshold(const GreyImage& grey) {
    std::array<double, 256> histogram{};
    for (uint8_t v : grey.pixels)
        histogram[v] += 1;
    double total = double(grey.pixels.size()), sumAll = 0;
    for (int i = 0; i < 256; ++i)
        sumAll += i * histogram[i];
    double weightLow = 0, sumLow = 0, bestSpread = -1;
    int best = 127;
    for (int t = 0; t < 256; ++t) {
        weightLow += histogram[t];
        if (weightLow == 0 || weightLow == total) continue;
        sumLow += t * histogram[t];
        double meanLow = sumLow / weightLow;
        double meanHigh = (sumAll - sumLow) / (total - weightLow);
        double spread =
            weightLow * (total - weightLow) * (meanLow - meanHigh) * (meanLow - meanHigh);
        if (spread > bestSpread) bestSpread = spread, best = t;
    }
    return best;
}

struct Component {
    Box box;
    int area = 0;
    bool touchesEdge = false;
};

struct Segmentation {
    int width = 0, height = 0;
    const GreyImage* grey = nullptr;  // the crop segmented, ink dark
    int inkLevel = 0, paperLevel = 255;
    std::vector<int> labels;  // 0 paper, otherwise component index + 1
    std::vector<Component> components;
};

// Eight-connected ink components.
Segmentation Label(const std::vector<uint8_t>& ink, int width, int height) {
    Segmentation s;
    s.width = width;
    s.height = height;
    s.labels.assign(ink.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < width * height; ++start) {
        if (!ink[start] || s.labels[start]) continue;
        int label = int(s.components.size()) + 1;
        Component c{{start % width, start / width, start % width + 1, start / width + 1}};
        stack.assign(1, start);
        s.labels[start] = label;
        while (!stack.empty()) {
            int p = stack.back();
            stack.pop_back();
            int x = p % width, y = p / width;
            ++c.area;
            c.box.Add({x, y, x + 1, y + 1});
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
                    int id = ny * width + nx;
                    if (ink[id] && !s.labels[id]) {
                        s.labels[id] = label;
                        stack.push_back(id);
                    }
                }
            }
        }
        c.touchesEdge = c.box.x0 == 0 || c.box.y0 == 0 || c.box.x1 == width || c.box.y1 == height;
        s.components.push_back(c);
    }
    return s;
}

struct Glyph {
    Box box;
    std::vector<int> labels;
};

// Draws glyph in grey, dark on white, scaled to width x height with kGlyphPad of paper
// around it. Only pixels near the glyph's own components are taken (its neighbours and
// specks stay out); the grey keeps the stroke edges the character reader uses.
GreyImage Render(const Segmentation& s, const Glyph& glyph, int width, int height) {
    constexpr int kReach = 2;  // pixels around the components that still belong to them
    const Box& b = glyph.box;
    int mw = b.Width() + 2 * kReach, mh = b.Height() + 2 * kReach;
    std::vector<uint8_t> mask(size_t(mw) * mh, 0);
    for (int y = b.y0; y < b.y1; ++y) {
        for (int x = b.x0; x < b.x1; ++x) {
            int label = s.labels[size_t(y) * s.width + x];
            if (label == 0 ||
                std::find(glyph.labels.begin(), glyph.labels.end(), label) == glyph.labels.end()) {
                continue;
            }
            for (int dy = 0; dy <= 2 * kReach; ++dy) {
                std::fill_n(&mask[size_t(y - b.y0 + dy) * mw + x - b.x0], 2 * kReach + 1, 1);
            }
        }
    }
    GreyImage out;
    out.width = width + 2 * kGlyphPad;
    out.height = height + 2 * kGlyphPad;
    out.pixels.assign(size_t(out.width) * out.height, 255);
    double range = std::max(1, s.paperLevel - s.inkLevel);
    for (int y = 0; y < height; ++y) {
        int sy = b.y0 + int((y + 0.5) * b.Height() / height);
        for (int x = 0; x < width; ++x) {
            int sx = b.x0 + int((x + 0.5) * b.Width() / width);
            if (!mask[size_t(sy - b.y0 + kReach) * mw + sx - b.x0 + kReach]) continue;
            double v = (s.grey->pixels[size_t(sy) * s.width + sx] - s.inkLevel) * 255.0 / range;
            out.pixels[size_t(y + kGlyphPad) * out.width + x + kGlyphPad] =
                uint8_t(std::clamp(v, 0.0, 255.0));
        }
    }
    return out;
}

// The glyphs side by side, centred on one line, with an even gap.
GreyImage RenderLine(const std::vector<GreyImage>& glyphs, int gap) {
    GreyImage out;
    for (const GreyImage& g : glyphs) {
        out.width += g.width + gap;
        out.height = std::max(out.height, g.height);
    }
    out.width += gap;
    out.height += 2 * gap;
    out.pixels.assign(size_t(out.width) * out.height, 255);
    int left = gap;
    for (const GreyImage& g : glyphs) {
        int top = (out.height - g.height) / 2;
        for (int y = 0; y < g.height; ++y) {
            std::copy_n(&g.pixels[size_t(y) * g.width], g.width,
                        &out.pixels[size_t(top + y) * out.width + left]);
        }
        left += g.width + gap;
    }
    return out;
}

int Median(std::vector<int> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The character-sized components, grouped into glyphs left to right.
std::vector<Glyph> TallGlyphs(const Segmentation& s, int& charHeight, Box& band) {
    std::vector<int> heights;
    for (const Component& c : s.components) {
        if (!c.touchesEdge && c.box.Height() >= 0.3 * s.height &&
            c.box.Height() < 0.95 * s.height && c.box.Width() < 0.3 * s.width) {
            heights.push_back(c.box.Height());
        }
    }
    if (heights.empty()) return {};
    charHeight = Median(heights);
    std::vector<Glyph> glyphs;
    std::vector<int> tops, bottoms;
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        int h = c.box.Height(), w = c.box.Width();
        bool tall = h >= 0.75 * charHeight && h <= 1.3 * charHeight;
        if (c.touchesEdge || !tall || w > 1.2 * charHeight || h > 12 * w) continue;
        glyphs.push_back({c.box, {int(i) + 1}});
        tops.push_back(c.box.y0);
        bottoms.push_back(c.box.y1);
    }
    if (glyphs.empty()) return {};
    band = {0, Median(tops), s.width, Median(bottoms)};
    std::sort(glyphs.begin(), glyphs.end(),
              [](const Glyph& a, const Glyph& b) { return a.box.x0 < b.box.x0; });
    // Pieces of one broken character overlap in x: join them.
    std::vector<Glyph> joined;
    for (const Glyph& g : glyphs) {
        if (!joined.empty()) {
            Glyph& last = joined.back();
            int overlap = std::min(last.box.x1, g.box.x1) - std::max(last.box.x0, g.box.x0);
            if (overlap * 2 >= std::min(last.box.Width(), g.box.Width())) {
                last.box.Add(g.box);
                last.labels.insert(last.labels.end(), g.labels.begin(), g.labels.end());
                continue;
            }
        }
        joined.push_back(g);
    }
    return joined;
}

// Every ink component on the text line left of the letter: the province character, which
// may be made of many small strokes.
Glyph ProvinceGlyph(const Segmentation& s, const Box& band, int charHeight, int letterX) {
    // The province character is half as wide as tall and stands an eighth of its height
    // before the letter; the window allows for slight rotation.
    int left = letterX - int(0.85 * charHeight);
    int minArea = std::max(2, charHeight * charHeight / 400);  // specks of noise
    int strokeArea = charHeight * charHeight / 60;             // a real stroke, not a speck
    auto candidate = [&](const Component& c) {
        int centreY = (c.box.y0 + c.box.y1) / 2;
        return !c.touchesEdge && c.area >= minArea && centreY >= band.y0 && centreY <= band.y1 &&
               c.box.Height() <= 1.3 * charHeight && c.box.x1 <= letterX && c.box.x0 >= left;
    };
    // The strokes first: large components that are no hairline (a piece of the plate's
    // frame is one); then the small parts within their reach.
    Glyph glyph;
    bool any = false;
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        // Pieces of the frame are lines far thinner than a character's strokes.
        bool thin = c.area < 0.045 * charHeight * (c.box.Width() + c.box.Height());
        if (!candidate(c) || c.area < strokeArea || thin) continue;
        if (!any) glyph.box = c.box;
        glyph.box.Add(c.box);
        glyph.labels.push_back(int(i) + 1);
        any = true;
    }
    if (!any) return glyph;
    int reach = charHeight / 12;
    Box core = glyph.box;
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        if (!candidate(c) || c.area >= strokeArea) continue;
        int cx = (c.box.x0 + c.box.x1) / 2, cy = (c.box.y0 + c.box.y1) / 2;
        if (cx < core.x0 - reach || cx > core.x1 + reach || cy < core.y0 - reach ||
            cy > core.y1 + reach) {
            continue;
        }
        glyph.box.Add(c.box);
        glyph.labels.push_back(int(i) + 1);
    }
    return glyph;
}

std::optional<PlateGlyphs> Cut(const Segmentation& s, PlateColor color, size_t tailCount) {
    int charHeight = 0;
    Box band;
    std::vector<Glyph> glyphs = TallGlyphs(s, charHeight, band);
    if (glyphs.size() < tailCount) return std::nullopt;
    std::vector<Glyph> tail(glyphs.end() - tailCount, glyphs.end());
    Glyph province = ProvinceGlyph(s, band, charHeight, tail.front().box.x0);
    if (province.labels.empty()) return std::nullopt;
    PlateGlyphs out;
    out.color = color;
    // Plate characters are drawn half as wide as tall; the province character is read at
    // its usual square shape.
    int side = province.box.Height();
    out.province = Render(s, province, side, side);
    for (const Glyph& g : tail) {
        out.tailCharacters.push_back(Render(s, g, g.box.Width(), g.box.Height()));
    }
    out.tail = RenderLine(out.tailCharacters, std::max(4, charHeight / 4));
    return out;
}

}  // namespace

std::vector<PlateGlyphs> FindPlateGlyphs(const RgbImage& image) {
    if (image.width < 2 || image.height < 2) return {};
    Region region = LocateByColor(image);
    GreyImage grey = ScaledCrop(image, region.box, region.color);
    int threshold = OtsuThreshold(grey);
    std::vector<uint8_t> ink(grey.pixels.size());
    size_t dark = 0;
    for (size_t i = 0; i < ink.size(); ++i) {
        ink[i] = grey.pixels[i] <= threshold;
        dark += ink[i];
    }
    // Without a known colour, the characters are the smaller of the two classes; light
    // characters are turned dark.
    if (region.color == PlateColor::Unknown && dark * 2 > ink.size()) {
        for (size_t i = 0; i < ink.size(); ++i) {
            ink[i] = !ink[i];
            grey.pixels[i] = 255 - grey.pixels[i];
        }
    }
    Segmentation s = Label(ink, grey.width, grey.height);
    s.grey = &grey;
    // Ink and paper levels for the glyphs' contrast: the means of the two classes.
    double sums[2] = {0, 0}, counts[2] = {0, 0};
    for (size_t i = 0; i < ink.size(); ++i) {
        sums[ink[i]] += grey.pixels[i];
        counts[ink[i]] += 1;
    }
    if (counts[0] > 0 && counts[1] > 0) {
        s.paperLevel = int(sums[0] / counts[0]);
        s.inkLevel = int(sums[1] / counts[1]);
    }
    std::vector<PlateGlyphs> out;
    if (region.color != PlateColor::Green) {
        if (auto g = Cut(s, region.color, kBlueTail)) out.push_back(std::move(*g));
    }
    if (region.color != PlateColor::Blue) {
        if (auto g = Cut(s, region.color, kGreenTail)) out.push_back(std::move(*g));
    }
    return out;
}

}  // namespace service
