#include "service/plate_finder.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <optional>

#include "service/plate_model.h"

namespace service {
namespace {

// Regions are looked for on the picture brought down to this size: a plate a tenth of the
// picture's width still has 80 pixels.
constexpr int findSide = 800;
// Plates are 440 x 140 mm (blue) and 480 x 140 mm (green).
constexpr double blueAspect = 440.0 / 140, greenAspect = 480.0 / 140;
// A plate turned 30 degrees away looks narrower (cos 30 = 0.87), a green plate whose pale
// top is left out looks wider; beyond these no plate.
constexpr double minAspect = 1.8, maxAspect = 6.5;
// Plates smaller than this share of the picture's width are not looked for.
constexpr double minWidthShare = 0.08;
// A block of characters is this much of its plate's width and height.
constexpr float textWidth = 0.93f, textHeight = 0.64f;
// A plate-shaped region is mostly filled by its colour or its strokes.
constexpr double minFill = 0.45;
// Candidates tried at most; each costs one run of the network.
constexpr size_t maxCandidates = 8;
// Candidates whose boxes overlap this much (intersection over union) are one.
constexpr double sameRegion = 0.6;
// The rectified plate, four times the network's input: warped at this size, then brought
// down by area, as in the training.
constexpr int warpScale = 4;

// OpenCV hue runs 0 to 180. Plate blue is about 110, plate green about 60 to 75.
const cv::Scalar blueLow(100, 90, 40), blueHigh(128, 255, 255);
const cv::Scalar greenLow(35, 45, 50), greenHigh(88, 255, 255);

enum class Source { Blue, Green, Strokes };

struct Region {
    Source source;
    std::vector<cv::Point> contour;
};

// The corners of rect as top left, top right, bottom right, bottom left, along its long
// side.
std::array<cv::Point2f, 4> OrderedCorners(const cv::RotatedRect& rect) {
    cv::Point2f p[4];
    rect.points(p);
    cv::Point2f u = p[1] - p[0];
    if (cv::norm(p[2] - p[1]) > cv::norm(u)) u = p[2] - p[1];
    u /= float(cv::norm(u));
    if (u.x < 0) u = -u;
    cv::Point2f v(-u.y, u.x);  // down
    std::array<cv::Point2f, 4> out{};
    for (const cv::Point2f& q : p) {
        cv::Point2f d = q - rect.center;
        bool right = d.dot(u) > 0, below = d.dot(v) > 0;
        out[below ? (right ? 2 : 3) : (right ? 1 : 0)] = q;
    }
    return out;
}

double Aspect(const std::array<cv::Point2f, 4>& c) {
    double width = (cv::norm(c[1] - c[0]) + cv::norm(c[2] - c[3])) / 2;
    double height = (cv::norm(c[3] - c[0]) + cv::norm(c[2] - c[1])) / 2;
    return height > 0 ? width / height : 0;
}

// The plate's own corners: the points of its outline nearest to the corners of its
// bounding rectangle (a plate turned away is a trapezoid, not a rectangle).
std::array<cv::Point2f, 4> OutlineCorners(const std::vector<cv::Point>& hull,
                                          const std::array<cv::Point2f, 4>& box) {
    std::array<cv::Point2f, 4> out = box;
    for (int i = 0; i < 4; ++i) {
        double best = 1e18;
        for (const cv::Point& p : hull) {
            double d = cv::norm(cv::Point2f(p) - box[i]);
            if (d < best) best = d, out[i] = cv::Point2f(p);
        }
    }
    return out;
}

// Grows a quadrilateral about its centre, along its own long axis by along and across it by
// across.
void Grow(std::array<cv::Point2f, 4>& c, float along, float across) {
    cv::Point2f centre = (c[0] + c[1] + c[2] + c[3]) / 4;
    cv::Point2f u = (c[1] + c[2] - c[0] - c[3]) / 2;
    u /= float(std::max(1e-6, cv::norm(u)));
    cv::Point2f v(-u.y, u.x);
    for (cv::Point2f& p : c) {
        cv::Point2f d = p - centre;
        p = centre + u * (d.dot(u) * along) + v * (d.dot(v) * across);
    }
}

// A green plate's pale top is no green: where the region is flatter than a plate, its top
// edge moves up to a plate's proportions.
void RaiseGreenTop(std::array<cv::Point2f, 4>& c) {
    double aspect = Aspect(c);
    if (aspect <= greenAspect * 1.1) return;
    double grow = aspect / greenAspect - 1;  // in heights
    for (int top : {0, 1}) {
        int bottom = top == 0 ? 3 : 2;
        c[top] += (c[top] - c[bottom]) * float(grow);
    }
}

std::vector<Region> ColourRegions(const cv::Mat& hsv, Source source) {
    cv::Mat mask;
    if (source == Source::Blue) cv::inRange(hsv, blueLow, blueHigh, mask);
    if (source == Source::Green) cv::inRange(hsv, greenLow, greenHigh, mask);
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 3)));
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<Region> regions;
    for (auto& contour : contours)
        regions.push_back({source, std::move(contour)});
    return regions;
}

// Rows of upright strokes (characters) closed into blocks, at three scales: small plates to
// large ones.
std::vector<Region> StrokeRegions(const cv::Mat& grey) {
    cv::Mat edges;
    cv::Sobel(grey, edges, CV_16S, 1, 0, 3);
    cv::convertScaleAbs(edges, edges);
    cv::threshold(edges, edges, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    std::vector<Region> regions;
    int side = std::max(grey.cols, grey.rows);
    for (int width : {std::max(5, side / 80), std::max(9, side / 30), std::max(15, side / 8)}) {
        cv::Mat closed;
        cv::morphologyEx(
            edges, closed, cv::MORPH_CLOSE,
            cv::getStructuringElement(cv::MORPH_RECT, cv::Size(width, std::max(3, width / 5))));
        cv::morphologyEx(closed, closed, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(closed, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        for (auto& contour : contours)
            regions.push_back({Source::Strokes, std::move(contour)});
    }
    return regions;
}

// How much a region looks like a plate: its proportions, how well it fills its outline,
// its size; a plate's colour counts most. A block of strokes may be the characters alone
// or the whole plate: it gives a candidate for each.
std::vector<PlateCandidate> Judge(const Region& region, const cv::Size& size, double scale) {
    std::vector<cv::Point> hull;
    cv::convexHull(region.contour, hull);
    cv::RotatedRect rect = cv::minAreaRect(hull);
    double longSide = std::max(rect.size.width, rect.size.height);
    if (longSide < minWidthShare * size.width) return {};
    std::array<cv::Point2f, 4> box = OrderedCorners(rect);
    double aspect = Aspect(box);
    if (aspect < minAspect || aspect > maxAspect) return {};
    double fill = cv::contourArea(region.contour) / std::max(1.0, double(rect.size.area()));
    if (fill < minFill) return {};
    double share = std::sqrt(rect.size.area() / double(size.area()));
    auto shape = [aspect](double target) {
        return std::exp(-2 * std::abs(std::log(aspect / target)));
    };
    PlateCandidate candidate;
    candidate.corners = OutlineCorners(hull, box);
    for (cv::Point2f& p : candidate.corners)
        p /= float(scale);
    std::vector<PlateCandidate> out;
    if (region.source == Source::Strokes) {
        candidate.plausibility = fill * shape(blueAspect) * (0.5 + share);
        out.push_back(candidate);
        Grow(candidate.corners, 1 / textWidth, 1 / textHeight);
        candidate.plausibility = fill * shape(blueAspect * textHeight / textWidth) * (0.5 + share);
        out.push_back(candidate);
        return out;
    }
    double target = blueAspect;
    candidate.color = PlateColor::Blue;
    if (region.source == Source::Green) {
        candidate.color = PlateColor::Green;
        RaiseGreenTop(candidate.corners);
        target = greenAspect;
    }
    candidate.plausibility = 1 + fill * shape(target) * (0.5 + share);
    out.push_back(candidate);
    return out;
}

double Overlap(const PlateCandidate& a, const PlateCandidate& b) {
    cv::Rect2f ra = cv::boundingRect(std::vector<cv::Point2f>(a.corners.begin(), a.corners.end()));
    cv::Rect2f rb = cv::boundingRect(std::vector<cv::Point2f>(b.corners.begin(), b.corners.end()));
    double common = (ra & rb).area();
    return common / std::max(1.0, double(ra.area() + rb.area() - common));
}

PlateCandidate WholePicture(const cv::Mat& rgb) {
    float w = float(rgb.cols), h = float(rgb.rows);
    PlateCandidate whole;
    whole.corners = {cv::Point2f(0, 0), cv::Point2f(w, 0), cv::Point2f(w, h), cv::Point2f(0, h)};
    return whole;
}

}  // namespace

std::vector<PlateCandidate> FindPlateCandidates(const cv::Mat& rgb) {
    if (rgb.empty() || rgb.type() != CV_8UC3) return {};
    double scale = std::min(1.0, double(findSide) / std::max(rgb.cols, rgb.rows));
    cv::Mat work;
    cv::resize(rgb, work, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::Mat hsv, grey;
    cv::cvtColor(work, hsv, cv::COLOR_RGB2HSV);
    cv::cvtColor(work, grey, cv::COLOR_RGB2GRAY);

    std::vector<Region> regions = ColourRegions(hsv, Source::Blue);
    for (Region& r : ColourRegions(hsv, Source::Green))
        regions.push_back(std::move(r));
    for (Region& r : StrokeRegions(grey))
        regions.push_back(std::move(r));

    std::vector<PlateCandidate> judged;
    for (const Region& region : regions) {
        for (const PlateCandidate& c : Judge(region, work.size(), scale))
            judged.push_back(c);
    }
    std::stable_sort(judged.begin(), judged.end(),
                     [](const auto& a, const auto& b) { return a.plausibility > b.plausibility; });
    std::vector<PlateCandidate> out;
    for (const PlateCandidate& c : judged) {
        if (out.size() + 1 >= maxCandidates) break;
        bool seen = std::any_of(out.begin(), out.end(), [&](const PlateCandidate& o) {
            return o.color == c.color && Overlap(o, c) > sameRegion;
        });
        if (!seen) out.push_back(c);
    }
    out.push_back(WholePicture(rgb));
    return out;
}

PlateCandidate Scaled(const PlateCandidate& candidate, float along, float across) {
    PlateCandidate out = candidate;
    Grow(out.corners, along, across);
    return out;
}

cv::Mat RectifyPlate(const cv::Mat& rgb, const PlateCandidate& candidate) {
    const float w = plateInputWidth * warpScale, h = plateInputHeight * warpScale;
    const cv::Point2f target[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    cv::Mat warp = cv::getPerspectiveTransform(candidate.corners.data(), target);
    cv::Mat big, grey, plate;
    cv::warpPerspective(rgb, big, warp, cv::Size(int(w), int(h)), cv::INTER_LINEAR,
                        cv::BORDER_REPLICATE);
    cv::cvtColor(big, grey, cv::COLOR_RGB2GRAY);
    cv::resize(grey, plate, cv::Size(plateInputWidth, plateInputHeight), 0, 0, cv::INTER_AREA);
    return plate;
}

}  // namespace service
