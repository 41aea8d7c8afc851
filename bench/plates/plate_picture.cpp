#include "plate_picture.h"

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace plates {
namespace {

const char* const provinceNames[] = {
    "京", "津", "沪", "渝", "冀", "豫", "云", "辽", "黑", "湘", "皖", "鲁", "新", "苏", "浙", "赣",
    "鄂", "桂", "甘", "晋", "蒙", "陕", "吉", "闽", "贵", "粤", "青", "藏", "川", "宁", "琼"};
const char letterChars[] = "ABCDEFGHJKLMNPQRSTUVWXYZ";
const char digitChars[] = "0123456789";

// Plate sizes in millimetres: blue 440 x 140 with 45 x 90 characters, green 480 x 140
// with 43 x 90 characters; the gap after the second character holds a dot.
struct Layout {
    double width, charWidth, margin, spacing, dotGap;
    int characters;
};
constexpr Layout blueLayout{440, 45, 15.5, 12, 34, 7};
constexpr Layout greenLayout{480, 43, 15.5, 9, 51, 8};
constexpr double plateHeight = 140, charHeight = 90, charTop = 25;

int Uniform(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

double Real(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

// The characters of a UTF-8 number: the province (3 bytes), then one byte each.
std::vector<QString> Characters(const std::string& number) {
    std::vector<QString> out{QString::fromUtf8(number.substr(0, 3))};
    for (char c : number.substr(3))
        out.push_back(QString(QChar(c)));
    return out;
}

// One character in its box: as tall as the box; as wide as its shape gives, narrowed to the
// box where wider, or stretched to the box's width (real plates' characters).
void DrawCharacter(QPainter& p, const QString& text, const QRectF& box, const QColor& color,
                   const Typeface& typeface, bool province) {
    QFont font(province ? typeface.cjk : typeface.latin);
    font.setPixelSize(200);
    font.setWeight(typeface.weight);
    QPainterPath path;
    path.addText(0, 0, font, text);
    QRectF bounds = path.boundingRect();
    if (bounds.isEmpty()) return;
    double sy = box.height() / bounds.height();
    double sx = std::min(sy, box.width() / bounds.width());
    if (typeface.fillBox && text != "1") sx = box.width() / bounds.width();
    QTransform t;
    t.translate(box.center().x(), box.center().y());
    t.scale(sx, sy);
    t.translate(-bounds.center().x(), -bounds.center().y());
    p.fillPath(t.map(path), color);
}

// The plate itself, scale pixels a millimetre, on a transparent image.
QImage DrawPlateFace(const std::string& number, bool green, double scale,
                     const Typeface& typeface = Typeface()) {
    const Layout& layout = green ? greenLayout : blueLayout;
    QImage image(int(layout.width * scale), int(plateHeight * scale),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QRectF plate(0, 0, layout.width, plateHeight);
    QColor ink;
    if (green) {
        QLinearGradient gradient(0, 0, 0, plateHeight);
        gradient.setColorAt(0, QColor(236, 250, 236));
        gradient.setColorAt(0.35, QColor(170, 225, 170));
        gradient.setColorAt(1, QColor(40, 170, 90));
        p.setBrush(gradient);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(plate, 8, 8);
        ink = QColor(15, 15, 15);
    } else {
        p.setBrush(QColor(12, 62, 160));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(plate, 8, 8);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(235, 235, 235), 2.5));
        p.drawRoundedRect(plate.adjusted(5, 5, -5, -5), 6, 6);
        ink = QColor(240, 240, 240);
    }
    std::vector<QString> characters = Characters(number);
    double x = layout.margin;
    for (size_t i = 0; i < characters.size(); ++i) {
        double width = layout.charWidth * typeface.widthFactor;
        QRectF box(x + (layout.charWidth - width) / 2, charTop, width, charHeight);
        DrawCharacter(p, characters[i], box, ink, typeface, i == 0);
        x += layout.charWidth;
        if (i == 1) {
            p.setBrush(ink);
            p.setPen(Qt::NoPen);
            p.drawEllipse(QPointF(x + layout.dotGap / 2, plateHeight / 2), 5, 5);
            x += layout.dotGap;
        } else {
            x += layout.spacing;
        }
    }
    return image;
}

// A scene around the plate: a grey, brown or dark backdrop with a few shapes.
void DrawBackground(QImage& image, std::mt19937& random, bool busy) {
    QPainter p(&image);
    int grey = Uniform(random, 40, 200);
    QLinearGradient gradient(0, 0, 0, image.height());
    gradient.setColorAt(0, QColor(grey, grey, std::min(255, grey + 10)));
    gradient.setColorAt(1, QColor(std::max(0, grey - 30), std::max(0, grey - 35), grey / 2));
    p.fillRect(image.rect(), gradient);
    if (!busy) return;
    for (int i = 0; i < 12; ++i) {
        int v = Uniform(random, 20, 230);
        p.setBrush(QColor(v, v - v / 8, v - v / 5));
        p.setPen(Qt::NoPen);
        p.drawRect(Uniform(random, 0, image.width()), Uniform(random, 0, image.height()),
                   Uniform(random, 20, image.width() / 3), Uniform(random, 10, image.height() / 4));
    }
}

// Separable box blur, run twice: close to a Gaussian of the given radius.
void Blur(QImage& image, int radius) {
    if (radius <= 0) return;
    image = image.convertToFormat(QImage::Format_RGB32);
    int w = image.width(), h = image.height();
    std::vector<QRgb> line;
    for (int pass = 0; pass < 2; ++pass) {
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            int outer = horizontal ? h : w, inner = horizontal ? w : h;
            line.resize(inner);
            for (int o = 0; o < outer; ++o) {
                auto pixel = [&](int i) -> QRgb& {
                    return horizontal ? reinterpret_cast<QRgb*>(image.scanLine(o))[i]
                                      : reinterpret_cast<QRgb*>(image.scanLine(i))[o];
                };
                for (int i = 0; i < inner; ++i)
                    line[i] = pixel(i);
                for (int i = 0; i < inner; ++i) {
                    int r = 0, g = 0, b = 0, n = 0;
                    for (int k = std::max(0, i - radius); k <= std::min(inner - 1, i + radius);
                         ++k) {
                        r += qRed(line[k]), g += qGreen(line[k]), b += qBlue(line[k]), ++n;
                    }
                    pixel(i) = qRgb(r / n, g / n, b / n);
                }
            }
        }
    }
}

void AddNoise(QImage& image, std::mt19937& random, double sigma) {
    std::normal_distribution<double> noise(0, sigma);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            int n = int(noise(random));
            row[x] =
                qRgb(std::clamp(qRed(row[x]) + n, 0, 255), std::clamp(qGreen(row[x]) + n, 0, 255),
                     std::clamp(qBlue(row[x]) + n, 0, 255));
        }
    }
}

// A car-coloured scene: a body of one colour (blue and green among them, as plates are),
// with darker and lighter shapes.
void DrawCarScene(QImage& image, std::mt19937& random) {
    QPainter p(&image);
    static const QColor bodies[] = {
        QColor(20, 60, 170), QColor(30, 140, 70),   QColor(200, 30, 30),  QColor(230, 230, 230),
        QColor(25, 25, 25),  QColor(120, 120, 125), QColor(200, 170, 40), QColor(90, 60, 40)};
    QColor body = bodies[Uniform(random, 0, 7)];
    QLinearGradient gradient(0, 0, 0, image.height());
    gradient.setColorAt(0, body.lighter(Uniform(random, 100, 140)));
    gradient.setColorAt(1, body.darker(Uniform(random, 110, 160)));
    p.fillRect(image.rect(), gradient);
    for (int i = 0; i < 10; ++i) {
        QColor c = Uniform(random, 0, 1) ? body.darker(Uniform(random, 120, 250))
                                         : body.lighter(Uniform(random, 110, 160));
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        p.drawRect(Uniform(random, 0, image.width()), Uniform(random, 0, image.height()),
                   Uniform(random, 10, image.width() / 2), Uniform(random, 4, image.height() / 6));
    }
}

// Light from dim to bright, falling off across the picture.
void Light(QImage& image, std::mt19937& random) {
    double gain = Real(random, 0.6, 1.3), slope = Real(random, -0.25, 0.25);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            double g = gain * (1 + slope * (double(x) / image.width() - 0.5));
            auto scaled = [g](int v) { return std::clamp(int(v * g), 0, 255); };
            row[x] = qRgb(scaled(qRed(row[x])), scaled(qGreen(row[x])), scaled(qBlue(row[x])));
        }
    }
}

// Where the corners of a w x h plate centred at the origin land when the plate turns by
// angle about its vertical axis, seen by a camera at distance times its width.
QPolygonF Turned(double w, double h, double angle, double distance) {
    QPolygonF corners;
    for (QPointF c : {QPointF(-w / 2, -h / 2), QPointF(w / 2, -h / 2), QPointF(w / 2, h / 2),
                      QPointF(-w / 2, h / 2)}) {
        double depth = distance * w + c.x() * std::sin(angle);
        double f = distance * w / depth;
        corners << QPointF(c.x() * std::cos(angle) * f, c.y() * f);
    }
    return corners;
}

const Typeface heldOutTypefaces[] = {
    {"WenQuanYi Micro Hei", "Nimbus Sans Narrow", QFont::Bold, 1.0, true},
    {"Droid Sans Fallback", "Nimbus Sans", QFont::Bold, 1.0, true},
    {"WenQuanYi Micro Hei", "Nimbus Sans", QFont::Normal, 0.85, false},
    {"Droid Sans Fallback", "Nimbus Sans Narrow", QFont::Normal, 1.1, true},
};

}  // namespace

std::string RandomNumber(std::mt19937& random, bool green) {
    std::string number = provinceNames[Uniform(random, 0, 30)];
    number += letterChars[Uniform(random, 0, 23)];
    if (green) {
        number += Uniform(random, 0, 1) ? 'D' : 'F';  // small new-energy cars
        for (int i = 0; i < 5; ++i) {
            number += i == 0 && Uniform(random, 0, 3) == 0 ? letterChars[Uniform(random, 0, 23)]
                                                           : digitChars[Uniform(random, 0, 9)];
        }
        return number;
    }
    for (int i = 0; i < 5; ++i) {
        bool letter = Uniform(random, 0, 9) < 3;
        number += letter ? letterChars[Uniform(random, 0, 23)] : digitChars[Uniform(random, 0, 9)];
    }
    return number;
}

PlatePicture DrawPlate(std::mt19937& random, const std::string& number, bool green, Scene scene) {
    bool closeUp = scene == Scene::CloseUp;
    double plateWidth = closeUp ? Real(random, 220, 480) : Real(random, 180, 300);
    const Layout& layout = green ? greenLayout : blueLayout;
    QImage face = DrawPlateFace(number, green, plateWidth / layout.width);

    QSize size = closeUp ? QSize(int(face.width() * Real(random, 1.1, 1.3)),
                                 int(face.height() * Real(random, 1.2, 1.6)))
                         : QSize(Uniform(random, 800, 1024), Uniform(random, 600, 768));
    QImage picture(size, QImage::Format_RGB32);
    DrawBackground(picture, random, !closeUp);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        QPointF centre = closeUp ? QPointF(size.width() / 2.0, size.height() / 2.0)
                                 : QPointF(Real(random, 0.3, 0.7) * size.width(),
                                           Real(random, 0.4, 0.75) * size.height());
        p.translate(centre);
        p.rotate(Real(random, -4, 4));
        p.drawImage(QPointF(-face.width() / 2.0, -face.height() / 2.0), face);
    }
    Blur(picture, Uniform(random, 0, 1));
    AddNoise(picture, random, Real(random, 2, 8));

    PlatePicture out{number, green, scene, {}};
    QBuffer buffer(&out.jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", Uniform(random, 55, 90));
    return out;
}

PlatePicture DrawHeldOutPlate(std::mt19937& random, const std::string& number, bool green) {
    const Typeface& typeface = heldOutTypefaces[Uniform(random, 0, 3)];
    const Layout& layout = green ? greenLayout : blueLayout;
    QSize size(Uniform(random, 640, 1280), 0);
    size.setHeight(size.width() * 3 / 4);
    double share = Real(random, 0.12, 1.0);
    double plateWidth = share * size.width();
    // Drawn at twice the size it appears at, then brought down by the painter.
    QImage face = DrawPlateFace(number, green, 2 * plateWidth / layout.width, typeface);

    QImage picture(size, QImage::Format_RGB32);
    DrawCarScene(picture, random);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        double w = plateWidth, h = plateWidth * plateHeight / layout.width;
        QPolygonF turned = Turned(w, h, Real(random, -30, 30) * M_PI / 180, Real(random, 1.5, 3));
        // Room for the turned plate: the centre kept so that the plate stays in the picture
        // (a plate as wide as the picture only just fits).
        QRectF bounds = turned.boundingRect();
        double cx =
            Real(random, -bounds.left(), std::max(-bounds.left(), size.width() - bounds.right()));
        double cy =
            Real(random, -bounds.top(), std::max(-bounds.top(), size.height() - bounds.bottom()));
        QTransform place;
        place.translate(cx, cy);
        place.rotate(Real(random, -10, 10));
        QPolygonF faceRect;  // four corners; a polygon made from a rectangle has five
        faceRect << QPointF(0, 0) << QPointF(face.width(), 0)
                 << QPointF(face.width(), face.height()) << QPointF(0, face.height());
        QTransform warp;
        if (!QTransform::quadToQuad(faceRect, turned, warp)) warp = QTransform();
        p.setTransform(warp * place);
        p.drawImage(QPointF(0, 0), face);
    }
    Light(picture, random);
    Blur(picture, Uniform(random, 0, 2));
    AddNoise(picture, random, Real(random, 2, 10));

    PlatePicture out{number, green, Scene::Background, {}};
    QBuffer buffer(&out.jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", Uniform(random, 50, 90));
    return out;
}

}  // namespace plates
