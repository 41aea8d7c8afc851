// The Win32 picture box's decoding under Wine's Windows Imaging Component: every kind the box
// shows, decoded at the size it is drawn and turned as its EXIF orientation says; GIFs played
// frame by frame (composed with their offsets, delays kept, any length); the largest icon image;
// a cursor read as an icon; bad data that shows nothing. The pictures are made by ImageMagick,
// exiftool and netpbm (make_pictures.sh) in the folder named by PICTURES_DIR.
#include "app/toolkit/win32/picture_decoder.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace toolkit::win32 {
namespace {

std::vector<unsigned char> ReadPicture(const std::string& name) {
    const char* dir = std::getenv("PICTURES_DIR");
    std::ifstream file(std::string(dir ? dir : ".") + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Pixels are BGRA; JPEG is lossy, so colours match within a small distance.
bool CloseTo(std::uint32_t pixel, std::uint32_t expected, int tolerance = 8) {
    for (int shift = 0; shift < 32; shift += 8) {
        int a = int((pixel >> shift) & 0xFF), b = int((expected >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

std::uint32_t At(const Bitmap& bitmap, int x, int y) {
    return bitmap.pixels[std::size_t(y) * bitmap.width + x];
}

constexpr std::uint32_t red = 0xFFFF0000, lime = 0xFF00FF00, blue = 0xFF0000FF, white = 0xFFFFFFFF;
// The picture box's client area.
constexpr Size box = {230, 166};

class PictureDecoding : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

TEST(FitInBox, ShrinksWithoutDistortionAndNeverEnlarges) {
    struct {
        Size picture, expected;
    } cases[] = {
        {{100, 60}, {100, 60}},      // fits: its own size
        {{230, 166}, {230, 166}},    // exactly the box
        {{460, 100}, {230, 50}},     // too wide: halved
        {{116, 332}, {58, 166}},     // too tall: halved
        {{8000, 6000}, {221, 166}},  // a camera photo: 166 * 8000 / 6000 = 221.3
        {{0, 10}, {0, 0}},
    };
    for (const auto& c : cases) {
        const Size fitted = FitInBox(c.picture, box);
        EXPECT_EQ(fitted.width, c.expected.width) << c.picture.width << "x" << c.picture.height;
        EXPECT_EQ(fitted.height, c.expected.height) << c.picture.width << "x" << c.picture.height;
    }
}

TEST_F(PictureDecoding, EveryKindDecodesAtItsOwnSizeWhenItFits) {
    struct {
        const char* file;
        PictureKind kind;
        int width, height;
        std::uint32_t colour;  // pixel 0,0
    } cases[] = {
        {"still.png", PictureKind::Png, 30, 20, red},
        {"still.jpg", PictureKind::Jpeg, 30, 20, blue},
        {"still.bmp", PictureKind::Bmp, 30, 20, lime},
        {"animated.gif", PictureKind::Gif, 10, 10, red},        // its first frame
        {"icon.ico", PictureKind::Icon, 32, 32, blue},          // the larger of 16 and 32
        {"photos/sizes.ico", PictureKind::Icon, 48, 48, blue},  // 48 among 16, 48 and 32
        {"cursor.cur", PictureKind::Cursor, 24, 24, lime},
        {"photos/pcx-24bit.pcx", PictureKind::Pcx, 13, 7, 0},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data = ReadPicture(c.file);
        ASSERT_FALSE(data.empty()) << c.file;
        EXPECT_EQ(SniffPictureKind(data.data(), data.size()), c.kind) << c.file;
        Bitmap picture = DecodeForBox(data.data(), data.size(), box);
        EXPECT_EQ(picture.width, c.width) << c.file;
        EXPECT_EQ(picture.height, c.height) << c.file;
        ASSERT_EQ(picture.pixels.size(), std::size_t(c.width) * c.height) << c.file;
        if (c.colour != 0) {
            EXPECT_TRUE(CloseTo(picture.pixels[0], c.colour))
                << c.file << std::hex << " pixel " << picture.pixels[0];
        }
    }
}

TEST_F(PictureDecoding, CameraPhotosAreDecodedAtTheSizeShownAndTurnedUpright) {
    struct {
        const char* file;
        int width, height;
        std::uint32_t top, bottom, left, right;  // 0: not looked at
    } cases[] = {
        // 8000 x 6000, left half red, right half blue.
        {"photos/big.jpg", 221, 166, 0, 0, red, blue},
        // 60 x 30 stored, turned right: its left half on top.
        {"photos/turned.jpg", 30, 60, red, blue, 0, 0},
        // 6000 x 4000 stored, turned left: its left half below.
        {"photos/big-turned.jpg", 110, 166, blue, red, 0, 0},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data = ReadPicture(c.file);
        ASSERT_FALSE(data.empty()) << c.file;
        Bitmap picture = DecodeForBox(data.data(), data.size(), box);
        ASSERT_EQ(picture.width, c.width) << c.file;
        ASSERT_EQ(picture.height, c.height) << c.file;
        const int w = picture.width, h = picture.height;
        const struct {
            std::uint32_t expected;
            int x, y;
        } probes[] = {{c.top, w / 2, h / 4},
                      {c.bottom, w / 2, h - 1 - h / 4},
                      {c.left, w / 4, h / 2},
                      {c.right, w - 1 - w / 4, h / 2}};
        for (const auto& p : probes)
            if (p.expected != 0) {
                EXPECT_TRUE(CloseTo(At(picture, p.x, p.y), p.expected, 24))
                    << c.file << " at " << p.x << "," << p.y << std::hex << ": "
                    << At(picture, p.x, p.y);
            }
    }
}

TEST_F(PictureDecoding, EveryExifOrientationIsTurnedAndMirroredUpright) {
    // Stored 40 x 20: red and blue on top, lime and white below. Shown: the colour of the
    // top-left and the top-right quadrant.
    struct {
        int orientation;
        std::uint32_t topLeft, topRight;
    } cases[] = {
        {1, red, blue}, {2, blue, red}, {3, white, lime}, {4, lime, white},
        {5, red, lime}, {6, lime, red}, {7, white, blue}, {8, blue, white},
    };
    for (const auto& c : cases) {
        const std::string file = "photos/orient-" + std::to_string(c.orientation) + ".jpg";
        std::vector<unsigned char> data = ReadPicture(file);
        ASSERT_FALSE(data.empty()) << file;
        Bitmap picture = DecodeForBox(data.data(), data.size(), box);
        const bool turned = c.orientation >= 5;
        ASSERT_EQ(picture.width, turned ? 20 : 40) << file;
        ASSERT_EQ(picture.height, turned ? 40 : 20) << file;
        const int w = picture.width, h = picture.height;
        EXPECT_TRUE(CloseTo(At(picture, w / 4, h / 4), c.topLeft, 24))
            << file << std::hex << " top left " << At(picture, w / 4, h / 4);
        EXPECT_TRUE(CloseTo(At(picture, w - 1 - w / 4, h / 4), c.topRight, 24))
            << file << std::hex << " top right " << At(picture, w - 1 - w / 4, h / 4);
    }
}

TEST_F(PictureDecoding, GifFramesPlayWithTheirDelaysAndLoop) {
    std::vector<unsigned char> data = ReadPicture("animated.gif");  // red 200 ms, blue 500 ms
    GifAnimation animation;
    ASSERT_TRUE(animation.Open(data.data(), data.size()));
    ASSERT_EQ(animation.FrameCount(), 2);
    const struct {
        int index, delay;
        std::uint32_t colour;
    } expected[] = {{0, 200, red}, {1, 500, blue}, {0, 200, red}};
    for (std::size_t step = 0; step < std::size(expected); ++step) {
        if (step > 0) {
            ASSERT_TRUE(animation.Advance()) << step;
        }
        EXPECT_EQ(animation.Index(), expected[step].index) << step;
        EXPECT_EQ(animation.Delay(), expected[step].delay) << step;
        EXPECT_EQ(animation.Canvas().pixels[0], expected[step].colour) << step;
    }
}

TEST_F(PictureDecoding, GifFramesAreComposedAtTheirOffsets) {
    std::vector<unsigned char> data = ReadPicture("offset.gif");
    GifAnimation animation;
    ASSERT_TRUE(animation.Open(data.data(), data.size()));
    ASSERT_TRUE(animation.Advance());
    const Bitmap& second = animation.Canvas();
    ASSERT_EQ(second.width, 10);
    EXPECT_EQ(At(second, 0, 0), red);   // kept from the first frame
    EXPECT_EQ(At(second, 4, 4), blue);  // the small frame at 3,3
    EXPECT_EQ(At(second, 9, 9), red);
    // A delay of one hundredth is shown as 100 ms, as viewers do.
    EXPECT_EQ(animation.Delay(), 100);
}

TEST_F(PictureDecoding, ALongAnimationOfLargeFramesPlaysToItsEnd) {
    // 20 frames of 2000 x 2000: all of them at once would be 320 MB.
    std::vector<unsigned char> data = ReadPicture("long.gif");
    GifAnimation animation;
    ASSERT_TRUE(animation.Open(data.data(), data.size()));
    ASSERT_EQ(animation.FrameCount(), 20);
    for (int i = 1; i < 20; ++i)
        ASSERT_TRUE(animation.Advance()) << "frame " << i;
    EXPECT_EQ(animation.Index(), 19);
    EXPECT_EQ(At(animation.Canvas(), 1000, 1000), lime);
}

TEST_F(PictureDecoding, BadDataShowsNothing) {
    struct {
        const char* file;
        PictureKind kind;
    } cases[] = {{"text.txt", PictureKind::None}, {"truncated.png", PictureKind::Png}};
    for (const auto& c : cases) {
        std::vector<unsigned char> data = ReadPicture(c.file);
        EXPECT_EQ(SniffPictureKind(data.data(), data.size()), c.kind) << c.file;
        EXPECT_TRUE(DecodeForBox(data.data(), data.size(), box).Empty()) << c.file;
        GifAnimation animation;
        EXPECT_FALSE(animation.Open(data.data(), data.size())) << c.file;
    }
}

TEST_F(PictureDecoding, ScalingGivesTheSizeAskedFor) {
    std::vector<unsigned char> data = ReadPicture("animated.gif");
    GifAnimation animation;
    ASSERT_TRUE(animation.Open(data.data(), data.size()));
    ASSERT_TRUE(animation.Advance());
    Bitmap scaled = ScaleBitmap(animation.Canvas(), {5, 5});
    EXPECT_EQ(scaled.width, 5);
    EXPECT_EQ(scaled.pixels.size(), 25u);
    EXPECT_EQ(scaled.pixels[12], blue);
}

}  // namespace
}  // namespace toolkit::win32
