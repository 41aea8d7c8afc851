// Draws pictures of mainland-China licence plates with random valid numbers, for the plate
// reading benchmark and tests. Needs a QGuiApplication (offscreen is fine).
#pragma once

#include <QByteArray>
#include <QString>
#include <random>
#include <string>

namespace plates {

enum class Scene {
    CloseUp,     // the plate fills most of the picture
    Background,  // the plate is a smaller part of a larger scene
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

}  // namespace plates
