// Draws pictures of mainland-China licence plates with random valid numbers, for the plate
// reading benchmark and tests. Needs a QGuiApplication (offscreen is fine).
#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <random>
#include <string>

namespace plates {

enum class Scene {
    CloseUp,     // the plate fills most of the picture
    Background,  // the plate is a smaller part of a larger scene
};

// The typefaces a plate is drawn with and the shape of its characters.
struct Typeface {
    QString cjk = "Noto Sans CJK SC";  // the province
    QString latin = "Noto Sans CJK SC";
    QFont::Weight weight = QFont::Bold;
    double widthFactor = 1;  // of the standard character width
    bool fillBox = false;    // stretched to the character width, as on real plates
};

struct PlatePicture {
    std::string number;  // UTF-8
    bool green = false;
    Scene scene = Scene::CloseUp;
    QByteArray jpeg;  // the picture as a JPEG file
};

// A random valid number: province, letter, then 5 (blue) or 6 (green) characters.
std::string RandomNumber(std::mt19937& random, bool green);

// Draws number on a plate with slight rotation, blur, noise and JPEG compression.
PlatePicture DrawPlate(std::mt19937& random, const std::string& number, bool green, Scene scene);

// The held-out set: typefaces a trained reader never saw (WenQuanYi Micro Hei or Droid Sans
// Fallback for the province, URW Nimbus Sans or Nimbus Sans Narrow for the rest), characters
// in real-plate proportions or narrower or wider, the plate 12 % to 100 % of the picture's
// width, turned up to 30 degrees about the vertical axis and up to 10 degrees in the
// picture plane, on a scene of any colour (a blue or green car too), light 0.6 to 1.3
// times, blur, noise, JPEG quality 50 to 90.
PlatePicture DrawHeldOutPlate(std::mt19937& random, const std::string& number, bool green);

}  // namespace plates
