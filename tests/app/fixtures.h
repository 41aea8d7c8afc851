// Picture files made in memory for the picture box tests: PNG/BMP/JPEG/ICO through Qt, and
// GIF (animated) and PCX written here byte by byte.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <vector>

namespace fixtures {

QImage Solid(int width, int height, QColor colour);
// Encodes with one of Qt's writers ("PNG", "BMP", "JPEG", "ICO").
QByteArray Encode(const QImage& image, const char* format);
// A GIF of solid frames, one colour each, every frame shown for `delayCs` hundredths.
QByteArray Gif(int width, int height, const std::vector<QColor>& frames, int delayCs = 5);
// An 8-bit palette PCX (RLE) whose pixel at (x, y) has palette entry (x + y) % 4 from `colours`.
QByteArray Pcx8(int width, int height, const std::vector<QColor>& colours);
// A 24-bit PCX (three planes, RLE) of the image.
QByteArray Pcx24(const QImage& image);

}  // namespace fixtures
