// The Win32 picture box's decoding under Wine's Windows Imaging Component: every kind the box
// shows, GIF frames composed with their offsets and delays, the largest icon image, a cursor
// read as an icon, and bad data that shows nothing. The pictures are made by ImageMagick
// (make_pictures.sh) in the folder named by PICTURES_DIR.
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
bool CloseTo(std::uint32_t pixel, std::uint32_t expected) {
    constexpr int tolerance = 8;
    for (int shift = 0; shift < 32; shift += 8) {
        int a = int((pixel >> shift) & 0xFF), b = int((expected >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

constexpr std::uint32_t red = 0xFFFF0000, lime = 0xFF00FF00, blue = 0xFF0000FF;

class PictureDecoding : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(PictureDecoding, EveryKindDecodes) {
    struct {
        const char* file;
        PictureKind kind;
        int width, height;
        std::vector<int> delays;             // one per frame
        std::vector<std::uint32_t> colours;  // pixel 0,0 of each frame
    } cases[] = {
        {"still.png", PictureKind::Png, 30, 20, {0}, {red}},
        {"still.jpg", PictureKind::Jpeg, 30, 20, {0}, {blue}},
        {"still.bmp", PictureKind::Bmp, 30, 20, {0}, {lime}},
        {"animated.gif", PictureKind::Gif, 10, 10, {200, 500}, {red, blue}},
        {"icon.ico", PictureKind::Icon, 32, 32, {0}, {blue}},
        {"cursor.cur", PictureKind::Cursor, 24, 24, {0}, {lime}},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data = ReadPicture(c.file);
        ASSERT_FALSE(data.empty()) << c.file;
        EXPECT_EQ(SniffPictureKind(data.data(), data.size()), c.kind) << c.file;
        DecodedPicture picture = DecodeWithWic(data.data(), data.size(), c.kind);
        EXPECT_EQ(picture.width, c.width) << c.file;
        EXPECT_EQ(picture.height, c.height) << c.file;
        ASSERT_EQ(picture.frames.size(), c.delays.size()) << c.file;
        for (std::size_t i = 0; i < picture.frames.size(); ++i) {
            const PictureFrame& frame = picture.frames[i];
            ASSERT_EQ(frame.pixels.size(), std::size_t(c.width) * c.height) << c.file;
            EXPECT_EQ(frame.delay, c.delays[i]) << c.file << " frame " << i;
            EXPECT_TRUE(CloseTo(frame.pixels[0], c.colours[i]))
                << c.file << " frame " << i << std::hex << " pixel " << frame.pixels[0];
        }
    }
}

TEST_F(PictureDecoding, GifFramesAreComposedAtTheirOffsets) {
    std::vector<unsigned char> data = ReadPicture("offset.gif");
    DecodedPicture picture = DecodeWithWic(data.data(), data.size(), PictureKind::Gif);
    ASSERT_EQ(picture.frames.size(), 2u);
    ASSERT_EQ(picture.width, 10);
    const auto& second = picture.frames[1].pixels;
    EXPECT_EQ(second[0], red);            // kept from the first frame
    EXPECT_EQ(second[4 * 10 + 4], blue);  // the small frame at 3,3
    EXPECT_EQ(second[9 * 10 + 9], red);
    // A delay of one hundredth is shown as 100 ms, as viewers do.
    EXPECT_EQ(picture.frames[1].delay, 100);
}

TEST_F(PictureDecoding, BadDataShowsNothing) {
    struct {
        const char* file;
        PictureKind kind;
    } cases[] = {{"text.txt", PictureKind::None}, {"truncated.png", PictureKind::Png}};
    for (const auto& c : cases) {
        std::vector<unsigned char> data = ReadPicture(c.file);
        EXPECT_EQ(SniffPictureKind(data.data(), data.size()), c.kind) << c.file;
        EXPECT_TRUE(DecodePicture(data.data(), data.size()).frames.empty()) << c.file;
    }
}

TEST_F(PictureDecoding, ScalingKeepsEveryFrame) {
    std::vector<unsigned char> data = ReadPicture("animated.gif");
    DecodedPicture picture = DecodeWithWic(data.data(), data.size(), PictureKind::Gif);
    DecodedPicture scaled = ScalePicture(picture, 5, 5);
    ASSERT_EQ(scaled.frames.size(), 2u);
    EXPECT_EQ(scaled.width, 5);
    EXPECT_EQ(scaled.frames[1].pixels.size(), 25u);
    EXPECT_EQ(scaled.frames[1].pixels[12], blue);
    EXPECT_EQ(scaled.frames[1].delay, 500);
}

}  // namespace
}  // namespace toolkit::win32
