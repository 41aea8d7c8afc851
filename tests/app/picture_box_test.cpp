// The picture box: kinds told by their first bytes, placement on the grabbed pixels, every
// format (PCX and an animated GIF included), and the bytes given back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include "app/toolkit/exif.h"
#include "app/toolkit/pcx.h"
#include "app/toolkit/picture_kind.h"
#include "app/toolkit/qt/convert.h"
#include "app/toolkit/qt/picture_widget.h"
#include "fixtures.h"

namespace {

using toolkit::PictureKind;
using toolkit::qt::PictureWidget;

// The framed box of the window: 240 x 176 outside, a 230 x 166 client area at (5, 5).
constexpr int boxWidth = 240;
constexpr int boxHeight = 176;
const QRect clientArea(5, 5, 230, 166);

Bytes ToBytes(const QByteArray& data) {
    return PointerToBytes(data.constData(), int(data.size()));
}

QByteArray ToByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A picture made by tools we did not write (tests/app/make_photos.sh), from PHOTOS_DIR or the
// build's folder.
QByteArray Photo(const char* name) {
    QFile file(QDir(qEnvironmentVariable("PHOTOS_DIR", TEST_PHOTOS_DIR)).filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// 8193 x 8193 pixels of 8 bits, one above 64 megapixels, with RLE data enough to fill them.
QByteArray AboveTheCap() {
    QByteArray file = fixtures::Pcx8(8, 8, {Qt::red}).left(128);
    file.replace(8, 4, QByteArray("\x00\x20\x00\x20", 4));  // xMax = yMax = 8192
    file.replace(66, 2, QByteArray("\x02\x20", 2));         // 8194 bytes a line
    const qint64 runs = qint64(8194) * 8193 / 63 + 1;
    QByteArray data;
    data.reserve(int(runs * 2));
    for (qint64 i = 0; i < runs; ++i)
        data.append("\xFF\x00", 2);  // 63 zero bytes
    return file + data;
}

// Distance of two colours, channel by channel: JPEG is lossy.
bool Near(QColor a, QColor b) {
    constexpr int tolerance = 24;
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

struct Box {
    QWidget parent;
    PictureWidget* box;
    Box() : box(new PictureWidget(&parent)) {
        parent.resize(300, 200);
        box->setGeometry(0, 0, boxWidth, boxHeight);
        parent.show();
    }
    QImage Grab() { return box->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QColor Background() const { return box->palette().color(QPalette::Button); }
};

TEST(PictureKindTest, IsToldByTheFirstBytes) {
    struct {
        QByteArray data;
        PictureKind kind;
    } cases[] = {
        {QByteArray("\x89PNG\r\n\x1A\n....", 12), PictureKind::Png},
        {QByteArray("\xFF\xD8\xFF\xE0....", 8), PictureKind::Jpeg},
        {QByteArray("GIF89a...."), PictureKind::Gif},
        {QByteArray("GIF87a...."), PictureKind::Gif},
        {QByteArray("GIF88a...."), PictureKind::None},
        {QByteArray("BM......"), PictureKind::Bmp},
        {QByteArray("\0\0\1\0\1\0", 6), PictureKind::Icon},
        {QByteArray("\0\0\2\0\1\0", 6), PictureKind::Cursor},
        {QByteArray("\x0A\x05\x01\x08\0\0", 6), PictureKind::Pcx},
        {QByteArray("\x0A\x06\x01\x08\0\0", 6), PictureKind::None},  // no such PCX version
        {QByteArray("\x0A\x05\x02\x08\0\0", 6), PictureKind::None},  // no such encoding
        {QByteArray("BM\0\0\0", 5), PictureKind::None},              // under 6 bytes
        {QByteArray("\x89PNG\r", 5), PictureKind::None},
        {QByteArray("abc"), PictureKind::None},
        {QByteArray(), PictureKind::None},
        {QByteArray("<html><body>"), PictureKind::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            toolkit::SniffPictureKind(reinterpret_cast<const unsigned char*>(c.data.constData()),
                                      std::size_t(c.data.size())),
            c.kind)
            << c.data.toHex().toStdString();
    }
}

TEST(PcxTest, DecodesPaletteAndTrueColour) {
    const std::vector<QColor> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    const QByteArray eight = fixtures::Pcx8(5, 3, colours);
    toolkit::Pixels pixels;
    ASSERT_TRUE(toolkit::DecodePcx(reinterpret_cast<const unsigned char*>(eight.constData()),
                                   std::size_t(eight.size()), pixels));
    ASSERT_EQ(pixels.width, 5);
    ASSERT_EQ(pixels.height, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(pixels.argb[std::size_t(y * 5 + x)], colours[std::size_t((x + y) % 4)].rgb())
                << x << "," << y;

    QImage image(3, 2, QImage::Format_RGB32);
    const QRgb values[] = {qRgb(1, 2, 3),       qRgb(250, 0, 7), qRgb(200, 200, 200),
                           qRgb(255, 255, 255), qRgb(0, 0, 0),   qRgb(192, 193, 194)};
    for (int i = 0; i < 6; ++i)
        image.setPixel(i % 3, i / 3, values[i]);
    const QByteArray truecolour = fixtures::Pcx24(image);
    ASSERT_TRUE(toolkit::DecodePcx(reinterpret_cast<const unsigned char*>(truecolour.constData()),
                                   std::size_t(truecolour.size()), pixels));
    ASSERT_EQ(pixels.width, 3);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(pixels.argb[std::size_t(i)], values[i]) << i;
}

TEST(PcxTest, RefusesMalformedFiles) {
    const QByteArray good = fixtures::Pcx8(8, 8, {Qt::red});
    auto patched = [&](int offset, QByteArray bytes) {
        QByteArray copy = good;
        copy.replace(offset, bytes.size(), bytes);
        return copy;
    };
    // 16384 x 4096 pixels, 16384 bytes a line: 64 MB that 64 bytes of data cannot hold.
    QByteArray hugeHeader = good.left(128);
    hugeHeader.replace(8, 4, QByteArray("\xFF\x3F\xFF\x0F", 4));
    hugeHeader.replace(66, 2, QByteArray("\x00\x40", 2));
    struct {
        const char* what;
        QByteArray data;
    } cases[] = {
        {"header only", good.left(128)},
        {"short header", good.left(60)},
        {"data cut short", good.left(140)},
        {"run count at the very end", good.left(128) + QByteArray("\xC5", 1)},
        {"xMax below xMin", patched(4, QByteArray("\x09\0", 2))},
        {"side of 65536", patched(8, QByteArray("\xFF\xFF", 2))},
        {"bytes per line below the width", patched(66, QByteArray("\x02\0", 2))},
        {"bytes per line far beyond the width", patched(66, QByteArray("\xFF\xFF", 2))},
        {"a huge picture in a small file", hugeHeader + QByteArray(64, '\xFF')},
        {"two planes of 8 bits", patched(65, QByteArray("\x02", 1))},
        {"four planes of 2 bits", patched(3, QByteArray("\x02", 1)).replace(65, 1, "\x04")},
        {"three bits per plane", patched(3, QByteArray("\x03", 1))},
        {"a picture above 64 megapixels the data could fill", AboveTheCap()},
        {"not a PCX", QByteArray(200, 'x')},
    };
    for (const auto& c : cases) {
        toolkit::Pixels pixels;
        EXPECT_FALSE(toolkit::DecodePcx(reinterpret_cast<const unsigned char*>(c.data.constData()),
                                        std::size_t(c.data.size()), pixels))
            << c.what;
    }
}

TEST(PcxTest, ReadsEveryLayoutAsNetpbmDoes) {
    // ppmtopcx's layouts of one seeded picture, each against pcxtoppm's reading of the same file.
    const char* names[] = {"1bit",        "2bit-packed", "2planes", "3planes",
                           "4bit-packed", "4planes",     "8bit",    "24bit"};
    for (const char* name : names) {
        const QByteArray pcx = Photo(qPrintable(QString("pcx-%1.pcx").arg(name)));
        const QImage expected =
            QImage::fromData(Photo(qPrintable(QString("pcx-%1.ppm").arg(name))));
        ASSERT_FALSE(pcx.isEmpty()) << name << ": no such photo (make_photos.sh)";
        ASSERT_FALSE(expected.isNull()) << name;
        toolkit::Pixels pixels;
        ASSERT_TRUE(toolkit::DecodePcx(reinterpret_cast<const unsigned char*>(pcx.constData()),
                                       std::size_t(pcx.size()), pixels))
            << name;
        ASSERT_EQ(QSize(pixels.width, pixels.height), expected.size()) << name;
        int wrong = 0;
        for (int y = 0; y < pixels.height; ++y)
            for (int x = 0; x < pixels.width; ++x)
                if (pixels.argb[std::size_t(y * pixels.width + x)] != expected.pixel(x, y)) {
                    if (++wrong <= 3)
                        ADD_FAILURE() << name << " at " << x << "," << y << ": " << std::hex
                                      << pixels.argb[std::size_t(y * pixels.width + x)]
                                      << " instead of " << expected.pixel(x, y);
                }
        EXPECT_EQ(wrong, 0) << name;
    }
}

// A JPEG start, an APP1 segment holding the given TIFF block after "Exif\0\0", then a scan.
QByteArray JpegWithTiff(const QByteArray& tiff) {
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF\xD8\xFF\xE1", 4) + char(length >> 8) + char(length & 0xFF) + payload +
           QByteArray("\xFF\xDA\x00\x02", 4);
}

TEST(ExifTest, ReadsTheOrientationOfPhotosAndRefusesMalformedOnes) {
    for (int n = 1; n <= 8; ++n) {
        const QByteArray photo = Photo(qPrintable(QString("orient-%1.jpg").arg(n)));
        EXPECT_EQ(
            toolkit::ExifOrientation(reinterpret_cast<const unsigned char*>(photo.constData()),
                                     std::size_t(photo.size())),
            n);
    }
    // One directory entry: tag 0x0112, type SHORT, count 1, value 6.
    const QByteArray motorola("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 22);
    const QByteArray intel("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 22);
    struct {
        const char* what;
        QByteArray data;
        int orientation;
    } cases[] = {
        {"big-endian TIFF", JpegWithTiff(motorola), 6},
        {"little-endian TIFF", JpegWithTiff(intel), 6},
        {"no EXIF", fixtures::Encode(fixtures::Solid(8, 8, Qt::red), "JPEG"), 0},
        {"not a JPEG", QByteArray("\x89PNG\r\n\x1A\n") + intel, 0},
        {"directory beyond the block", JpegWithTiff(QByteArray(intel).replace(4, 1, "\x70")), 0},
        {"entry cut short", JpegWithTiff(intel.left(16)), 0},
        {"value 9", JpegWithTiff(QByteArray(intel).replace(18, 1, "\x09")), 0},
        {"type LONG", JpegWithTiff(QByteArray(intel).replace(12, 1, "\x04")), 0},
        {"segment longer than the file", JpegWithTiff(intel).left(20), 0},
        {"byte order of neither kind", JpegWithTiff(QByteArray(intel).replace(0, 2, "IM")), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            toolkit::ExifOrientation(reinterpret_cast<const unsigned char*>(c.data.constData()),
                                     std::size_t(c.data.size())),
            c.orientation)
            << c.what;
}

TEST(PictureBoxTest, ShowsCameraPhotosWholeAndTurnedAsTheirExifSays) {
    const QColor red(Qt::red), blue(Qt::blue);
    struct {
        const char* file;
        QRect shown;         // in the box's coordinates
        QColor top, bottom;  // a quarter from the top and from the bottom, in the middle
        QColor left, right;  // a quarter from each side, in the middle
    } cases[] = {
        // 8000 x 6000: 221 x 166 in the 230 x 166 client area.
        {"big.jpg", {9, 5, 221, 166}, {}, {}, red, blue},
        // 60 x 30 stored, turned right: 30 x 60, its left half on top.
        {"turned.jpg", {105, 58, 30, 60}, red, blue, {}, {}},
        // 6000 x 4000 stored, turned left: 4000 x 6000 shown as 110 x 166, its left half below.
        {"big-turned.jpg", {65, 5, 110, 166}, blue, red, {}, {}},
    };
    Box box;
    for (const auto& c : cases) {
        const QByteArray photo = Photo(c.file);
        ASSERT_FALSE(photo.isEmpty()) << c.file << ": no such photo (make_photos.sh)";
        box.box->SetPicture(ToBytes(photo));
        EXPECT_EQ(ToByteArray(box.box->GetPicture()), photo) << c.file;
        EXPECT_EQ(box.box->PictureRect(), c.shown) << c.file;
        const QImage shot = box.Grab();
        const QRect r = c.shown;
        const QPoint probes[] = {{r.center().x(), r.top() + r.height() / 4},
                                 {r.center().x(), r.bottom() - r.height() / 4},
                                 {r.left() + r.width() / 4, r.center().y()},
                                 {r.right() - r.width() / 4, r.center().y()}};
        const QColor expected[] = {c.top, c.bottom, c.left, c.right};
        for (int i = 0; i < 4; ++i) {
            if (!expected[i].isValid()) continue;
            EXPECT_TRUE(Near(shot.pixelColor(probes[i]), expected[i]))
                << c.file << " at " << probes[i].x() << "," << probes[i].y() << ": "
                << shot.pixelColor(probes[i]).name().toStdString();
        }
        // Just outside the picture: the box's background.
        for (QPoint p : {r.topLeft() - QPoint(1, 0), r.bottomRight() + QPoint(1, 0)}) {
            if (!clientArea.contains(p)) continue;
            EXPECT_EQ(shot.pixelColor(p), box.Background()) << c.file;
        }
    }
}

TEST(PictureBoxTest, TurnsAndMirrorsPhotosAsEveryExifOrientationSays) {
    // Stored 40 x 20: red and blue on top, lime and white below. Shown: the colour of the
    // top-left and the top-right quadrant.
    const QColor r(Qt::red), b(Qt::blue), l(Qt::green), w(Qt::white);
    struct {
        int orientation;
        QColor topLeft, topRight;
    } cases[] = {
        {1, r, b},  // as stored
        {2, b, r},  // mirrored left to right
        {3, w, l},  // turned half round
        {4, l, w},  // mirrored top to bottom
        {5, r, l},  // mirrored about the diagonal from the top left
        {6, l, r},  // turned right
        {7, w, b},  // mirrored about the diagonal from the top right
        {8, b, w},  // turned left
    };
    Box box;
    for (const auto& c : cases) {
        const QString file = QString("orient-%1.jpg").arg(c.orientation);
        box.box->SetPicture(ToBytes(Photo(qPrintable(file))));
        const QRect shown = box.box->PictureRect();
        EXPECT_EQ(shown.size(), c.orientation <= 4 ? QSize(40, 20) : QSize(20, 40))
            << c.orientation;
        const QImage shot = box.Grab();
        const QPoint topLeft = shown.topLeft() + QPoint(shown.width() / 4, shown.height() / 4);
        const QPoint topRight = shown.topLeft() + QPoint(shown.width() * 3 / 4, shown.height() / 4);
        EXPECT_TRUE(Near(shot.pixelColor(topLeft), c.topLeft))
            << c.orientation << ": " << shot.pixelColor(topLeft).name().toStdString();
        EXPECT_TRUE(Near(shot.pixelColor(topRight), c.topRight))
            << c.orientation << ": " << shot.pixelColor(topRight).name().toStdString();
    }
}

TEST(PictureBoxTest, ShowsTheLargestImageOfAnIcon) {
    // 16 (red), 48 (blue) and 32 (lime) pixels in one file: the 48-pixel image is shown.
    Box box;
    box.box->SetPicture(ToBytes(Photo("sizes.ico")));
    EXPECT_EQ(box.box->PictureRect(), QRect(5 + 91, 5 + 59, 48, 48));
    EXPECT_EQ(box.Grab().pixelColor(clientArea.center()), QColor(Qt::blue));
}

TEST(PictureBoxTest, PlacesPicturesCentredAndShrunkWithoutDistortion) {
    struct {
        const char* what;
        QSize picture;
        QRect expected;  // in the box's coordinates
    } cases[] = {
        {"smaller: natural size, centred", {100, 60}, {5 + 65, 5 + 53, 100, 60}},
        {"wider: halved", {460, 100}, {5, 5 + 58, 230, 50}},
        {"taller: halved", {116, 332}, {5 + 86, 5, 58, 166}},
        {"exactly the client area", {230, 166}, clientArea},
    };
    Box box;
    for (const auto& c : cases) {
        const QByteArray png = fixtures::Encode(
            fixtures::Solid(c.picture.width(), c.picture.height(), Qt::red), "PNG");
        box.box->SetPicture(ToBytes(png));
        EXPECT_EQ(box.box->PictureRect(), c.expected) << c.what;
        const QImage shot = box.Grab();
        const QRect r = c.expected;
        const QColor red(Qt::red);
        // The picture's corners are red; the pixels just outside it show the background.
        for (QPoint p : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight(), r.center()})
            EXPECT_EQ(shot.pixelColor(p), red) << c.what << " at " << p.x() << "," << p.y();
        for (QPoint p : {r.topLeft() - QPoint(1, 0), r.topLeft() - QPoint(0, 1),
                         r.bottomRight() + QPoint(1, 0), r.bottomRight() + QPoint(0, 1)}) {
            if (!clientArea.contains(p)) continue;
            EXPECT_EQ(shot.pixelColor(p), box.Background())
                << c.what << " at " << p.x() << "," << p.y();
        }
    }
}

TEST(PictureBoxTest, ShowsEveryFormatAndGivesBackTheBytes) {
    const QImage blue = fixtures::Solid(40, 30, QColor(0, 0, 255));
    QByteArray cursor = fixtures::Encode(fixtures::Solid(32, 32, QColor(0, 0, 255)), "ICO");
    cursor[2] = 2;  // an icon file with the cursor type is a cursor file
    struct {
        const char* what;
        QByteArray data;
        QSize size;
    } cases[] = {
        {"PNG", fixtures::Encode(blue, "PNG"), {40, 30}},
        {"BMP", fixtures::Encode(blue, "BMP"), {40, 30}},
        {"JPEG", fixtures::Encode(blue, "JPEG"), {40, 30}},
        {"ICO", fixtures::Encode(fixtures::Solid(32, 32, QColor(0, 0, 255)), "ICO"), {32, 32}},
        {"CUR", cursor, {32, 32}},
        {"GIF", fixtures::Gif(40, 30, {QColor(0, 0, 255)}), {40, 30}},
        {"PCX 8-bit",
         fixtures::Pcx8(
             40, 30, {QColor(0, 0, 255), QColor(0, 0, 255), QColor(0, 0, 255), QColor(0, 0, 255)}),
         {40, 30}},
        {"PCX 24-bit", fixtures::Pcx24(blue), {40, 30}},
    };
    Box box;
    for (const auto& c : cases) {
        box.box->SetPicture(ToBytes(c.data));
        EXPECT_EQ(ToByteArray(box.box->GetPicture()), c.data) << c.what;
        const QRect r = box.box->PictureRect();
        EXPECT_EQ(r.size(), c.size) << c.what;
        const QColor shown = box.Grab().pixelColor(r.center());
        EXPECT_LT(shown.red(), 16) << c.what;
        EXPECT_GT(shown.blue(), 239) << c.what;
    }
}

TEST(PictureBoxTest, LeavesTheBoxBlankForWhatIsNoPicture) {
    const QByteArray png = fixtures::Encode(fixtures::Solid(200, 100, Qt::red), "PNG");
    const QByteArray cases[] = {
        QByteArray("abc"),
        QByteArray(),
        png.left(5),               // under 6 bytes
        png.left(60),              // PNG cut inside its first chunk
        png.left(png.size() / 2),  // PNG cut inside its pixel data
        QByteArray("GIF89a") + QByteArray(20, '\0'),
        fixtures::Pcx8(8, 8, {Qt::red}).left(130),
        QByteArray(4096, '\xFF'),
    };
    Box box;
    for (const auto& data : cases) {
        box.box->SetPicture(ToBytes(png));
        ASSERT_FALSE(box.box->PictureRect().isEmpty());
        box.box->SetPicture(ToBytes(data));
        EXPECT_TRUE(box.box->PictureRect().isEmpty()) << data.left(16).toHex().toStdString();
        EXPECT_EQ(ToByteArray(box.box->GetPicture()), data);
        const QImage shot = box.Grab();
        EXPECT_EQ(shot.pixelColor(clientArea.center()), box.Background());
    }
}

TEST(PictureBoxTest, PlaysAnimatedGifs) {
    Box box;
    box.box->SetPicture(ToBytes(fixtures::Gif(20, 20, {Qt::red, Qt::blue}, 2)));
    ASSERT_TRUE(box.box->IsAnimated());
    const QPoint centre = box.box->PictureRect().center();
    bool sawRed = false;
    bool sawBlue = false;
    // Frames change every 20 ms; within a few seconds both colours must have been shown.
    for (int i = 0; i < 300 && !(sawRed && sawBlue); ++i) {
        const QColor c = box.Grab().pixelColor(centre);
        sawRed = sawRed || c == QColor(Qt::red);
        sawBlue = sawBlue || c == QColor(Qt::blue);
        QTest::qWait(10);
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawBlue);

    box.box->SetPicture(ToBytes(fixtures::Gif(20, 20, {Qt::green})));
    EXPECT_FALSE(box.box->IsAnimated());
    EXPECT_EQ(box.Grab().pixelColor(box.box->PictureRect().center()), QColor(Qt::green));
}

}  // namespace
