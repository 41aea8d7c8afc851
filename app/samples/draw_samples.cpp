// Draws the tool's two sample pictures: a photo-like licence-plate picture (the front of a car
// with a blue plate "京A·F0236") and a plant picture (a sunflower in a pot).
// Usage: draw_samples OUTPUT_DIR
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

namespace {

constexpr int sampleWidth = 480;
constexpr int sampleHeight = 320;
constexpr int jpegQuality = 82;  // small file, no visible blocks on the plate's letters

// Light sensor noise so the picture looks taken, not drawn; seeded for reproducible files.
void AddNoise(QImage& image, quint32 seed) {
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(9)) - 4;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) + n, 255),
                           qBound(0, qBlue(p) + n, 255));
        }
    }
}

QImage DrawPlate() {
    QImage image(sampleWidth, sampleHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Street and sky behind the car.
    QLinearGradient sky(0, 0, 0, sampleHeight);
    sky.setColorAt(0, QColor(170, 190, 205));
    sky.setColorAt(0.45, QColor(120, 125, 130));
    sky.setColorAt(1, QColor(70, 72, 75));
    p.fillRect(image.rect(), sky);
    // Car body: a silver front with a grille and two headlights.
    QLinearGradient body(0, 60, 0, 300);
    body.setColorAt(0, QColor(205, 208, 212));
    body.setColorAt(1, QColor(120, 124, 130));
    p.setBrush(body);
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.drawRoundedRect(QRectF(30, 70, 420, 230), 40, 40);
    p.setBrush(QColor(35, 36, 40));
    p.drawRoundedRect(QRectF(110, 95, 260, 70), 12, 12);
    for (int x = 125; x < 360; x += 18)
        p.fillRect(QRectF(x, 103, 8, 54), QColor(70, 72, 78));
    QRadialGradient lamp(75, 125, 40);
    lamp.setColorAt(0, QColor(255, 255, 240));
    lamp.setColorAt(1, QColor(150, 155, 160));
    p.setBrush(lamp);
    p.drawEllipse(QPointF(75, 125), 38, 22);
    lamp.setCenter(405, 125);
    lamp.setFocalPoint(405, 125);
    p.setBrush(lamp);
    p.drawEllipse(QPointF(405, 125), 38, 22);
    // The plate: white characters on blue inside a white rim, 440 x 140 mm scaled to 260 x 80.
    const QRectF plate(110, 190, 260, 80);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 240, 240));
    p.drawRoundedRect(plate, 6, 6);
    p.setBrush(QColor(18, 62, 168));
    p.drawRoundedRect(plate.adjusted(4, 4, -4, -4), 4, 4);
    QFont font("Noto Sans CJK SC");
    font.setPixelSize(54);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    // Plate characters are half as wide as tall: the glyphs are drawn condensed. The province
    // and the letter, a dot, then the five characters, as on a real plate.
    constexpr double condense = 0.62;
    const QString left = QString::fromUtf8("京A");
    const QString right = QStringLiteral("F0236");
    const QFontMetricsF metrics(font);
    const double gap = 22;
    const double leftWidth = metrics.horizontalAdvance(left) * condense;
    const double width = leftWidth + gap + metrics.horizontalAdvance(right) * condense;
    const double x = plate.center().x() - width / 2;
    p.save();
    p.translate(x, plate.top());
    p.scale(condense, 1);
    const QRectF line(0, 0, width / condense, plate.height());
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, left);
    p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, right);
    p.restore();
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(x + leftWidth + gap / 2, plate.center().y()), 3, 3);
    p.end();
    AddNoise(image, 7);
    return image;
}

void DrawPetal(QPainter& p, QPointF centre, double angle, double length) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    QPainterPath petal;
    petal.moveTo(0, 0);
    petal.quadTo(length * 0.5, -length * 0.22, length, 0);
    petal.quadTo(length * 0.5, length * 0.22, 0, 0);
    p.drawPath(petal);
    p.restore();
}

QImage DrawPlant() {
    QImage image(sampleWidth, sampleHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, sampleHeight);
    sky.setColorAt(0, QColor(125, 180, 235));
    sky.setColorAt(1, QColor(215, 235, 250));
    p.fillRect(image.rect(), sky);
    p.fillRect(QRectF(0, 270, sampleWidth, 50), QColor(110, 150, 70));
    // Stem and leaves.
    p.setPen(QPen(QColor(50, 120, 40), 9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(240, 300), QPointF(240, 130));
    p.setPen(QPen(QColor(30, 90, 30), 1));
    p.setBrush(QColor(60, 145, 50));
    DrawPetal(p, QPointF(240, 235), -20, 85);
    DrawPetal(p, QPointF(240, 205), 200, 80);
    // Flower head: yellow petals around a brown seed disc.
    const QPointF head(240, 110);
    p.setBrush(QColor(250, 200, 30));
    p.setPen(QPen(QColor(200, 150, 20), 1));
    for (int i = 0; i < 22; ++i)
        DrawPetal(p, head, i * 360.0 / 22, 78);
    QRadialGradient disc(head, 42);
    disc.setColorAt(0, QColor(70, 40, 15));
    disc.setColorAt(1, QColor(120, 75, 25));
    p.setBrush(disc);
    p.setPen(Qt::NoPen);
    p.drawEllipse(head, 42, 42);
    p.setBrush(QColor(160, 70, 40));
    p.drawRect(QRectF(205, 280, 70, 40));
    p.end();
    AddNoise(image, 11);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_samples OUTPUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool plate = DrawPlate().save(dir + "/plate.jpg", "JPEG", jpegQuality);
    const bool plant = DrawPlant().save(dir + "/plant.jpg", "JPEG", jpegQuality);
    return plate && plant ? 0 : 1;
}
