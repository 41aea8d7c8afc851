// The plate reader: the line decoding and its plate rules, the model loading, the EXIF
// orientation, the finder and reader on pictures drawn in typefaces the reader's training
// never saw; then the service as curl meets it without a usable model and with a sideways
// phone photograph.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "plate_picture.h"
#include "service/image_info.h"
#include "service/options.h"
#include "service/picture.h"
#include "service/plate_finder.h"
#include "service/plate_model.h"
#include "service/plate_reader.h"
#include "service_process.h"

namespace service {
namespace {

// The class of one character of a number: 1 to 31 provinces, then letters, then digits.
int ClassOf(const std::string& character) {
    for (int i = 0; i < 31; ++i) {
        if (character == provinceNames[i]) return 1 + i;
    }
    std::string_view letters(plateLetters);
    if (letters.find(character[0]) != std::string_view::npos) {
        return 32 + int(letters.find(character[0]));
    }
    return 56 + (character[0] - '0');
}

// One column of the network's output: the classes given, the rest shared evenly.
struct Column {
    std::vector<std::pair<std::string, float>> classes;  // "" is the blank
};

cv::Mat Line(const std::vector<Column>& columns) {
    cv::Mat p(int(columns.size()), plateClasses, CV_32F);
    for (int t = 0; t < p.rows; ++t) {
        float left = 1;
        for (const auto& [c, q] : columns[t].classes)
            left -= q;
        p.row(t).setTo(left / plateClasses);
        for (const auto& [c, q] : columns[t].classes)
            p.at<float>(t, c.empty() ? 0 : ClassOf(c)) += q;
    }
    return p;
}

// Each character sure, a blank between.
std::vector<Column> Sure(const std::vector<std::string>& characters) {
    std::vector<Column> out{{{{"", 0.99f}}}};
    for (const std::string& c : characters) {
        out.push_back({{{c, 0.98f}}});
        out.push_back({{{"", 0.99f}}});
    }
    return out;
}

std::vector<std::string> Split(const std::string& number) {
    std::vector<std::string> out{number.substr(0, 3)};
    for (char c : number.substr(3))
        out.push_back(std::string(1, c));
    return out;
}

TEST(DecodePlateLine, PicksWhatEachPlaceAllows) {
    auto with = [](std::string number, size_t at, Column column) {
        std::vector<Column> line = Sure(Split(number));
        line[1 + 2 * at] = column;
        return line;
    };
    struct {
        const char* what;
        std::vector<Column> line;
        const char* number;  // "" for no reading
        PlateColor color;
    } cases[] = {
        {"blue", Sure(Split("京A12345")), "京A12345", PlateColor::Blue},
        {"green, small vehicle", Sure(Split("沪AD12345")), "沪AD12345", PlateColor::Green},
        {"green, large vehicle", Sure(Split("沪A12345F")), "沪A12345F", PlateColor::Green},
        {"the office letter is never a digit", with("京B12345", 1, {{{"8", 0.6f}, {"B", 0.3f}}}),
         "京B12345", PlateColor::Blue},
        {"the province is never a letter", with("京A12345", 0, {{{"A", 0.5f}, {"京", 0.2f}}}),
         "京A12345", PlateColor::Blue},
        {"a small green serial starts with D or F",
         with("沪AD12345", 2, {{{"0", 0.6f}, {"D", 0.3f}}}), "沪AD12345", PlateColor::Green},
        {"a large green serial ends in D or F", with("沪A12345F", 7, {{{"E", 0.6f}, {"F", 0.3f}}}),
         "沪A12345F", PlateColor::Green},
        {"digits after a small green plate's mark",
         with("沪AD12345", 5, {{{"S", 0.6f}, {"3", 0.3f}}}), "沪AD12345", PlateColor::Green},
        {"blue serials take letters", with("京A1B345", 3, {{{"B", 0.6f}, {"8", 0.3f}}}), "京A1B345",
         PlateColor::Blue},
        {"twice the same character, a blank between", Sure(Split("京A11234")), "京A11234",
         PlateColor::Blue},
        {"six characters are no plate", Sure(Split("京A1234")), "", PlateColor::Unknown},
        {"nine characters are no plate", Sure(Split("京A1234567")), "", PlateColor::Unknown},
        {"nothing but blanks", {{{{"", 0.99f}}}, {{{"", 0.99f}}}}, "", PlateColor::Unknown},
    };
    for (const auto& c : cases) {
        std::optional<PlateReading> reading = DecodePlateLine(Line(c.line));
        EXPECT_EQ(reading ? reading->number : "", c.number) << c.what;
        if (!reading) continue;
        EXPECT_EQ(reading->color, c.color) << c.what;
        EXPECT_GT(reading->confidence, 0) << c.what;
        EXPECT_LE(reading->confidence, 1) << c.what;
    }
}

TEST(DecodePlateLine, ConfidenceFallsWithAnUnsureCharacter) {
    std::vector<Column> sure = Sure(Split("京A12345"));
    std::vector<Column> unsure = sure;
    unsure[5] = {{{"2", 0.4f}, {"Z", 0.35f}}};
    double a = DecodePlateLine(Line(sure))->confidence;
    double b = DecodePlateLine(Line(unsure))->confidence;
    EXPECT_GT(a, 0.8);
    EXPECT_LT(b, 0.5);
}

TEST(DecodePlateLine, RefusesMalformedScores) {
    cv::Mat nan(8, plateClasses, CV_32F, cv::Scalar(std::nanf("")));
    EXPECT_FALSE(DecodePlateLine(nan));
    EXPECT_FALSE(DecodePlateLine(cv::Mat()));
    EXPECT_FALSE(DecodePlateLine(cv::Mat(8, plateClasses - 1, CV_32F, cv::Scalar(0.1))));
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(PlateModel, LoadsOnlyAUsableModel) {
    servicetest::TempDir dir;
    std::string good = servicetest::ReadFile(PLATE_MODEL_FILE);
    ASSERT_FALSE(good.empty());
    struct {
        const char* what;
        std::string path;
        bool loads;
    } cases[] = {
        {"the trained model", PLATE_MODEL_FILE, true},
        {"missing", dir.Path() + "/none.onnx", false},
        {"a directory", dir.Path(), false},
        {"empty", WriteFile(dir.Path() + "/empty.onnx", ""), false},
        {"cut in half", WriteFile(dir.Path() + "/half.onnx", good.substr(0, good.size() / 2)),
         false},
        {"not a model", WriteFile(dir.Path() + "/text.onnx", std::string(5000, 'x')), false},
    };
    for (const auto& c : cases) {
        std::string error;
        std::optional<PlateModel> model = PlateModel::Load(c.path, error);
        EXPECT_EQ(model.has_value(), c.loads) << c.what << ": " << error;
        EXPECT_EQ(error.empty(), c.loads) << c.what << ": " << error;
    }
}

// A JPEG with an EXIF block holding only the orientation tag, as cameras write it.
std::string WithOrientation(const std::string& jpeg, int orientation, bool bigEndian) {
    auto u16 = [bigEndian](int v) {
        return bigEndian ? std::string{char(v >> 8), char(v & 255)}
                         : std::string{char(v & 255), char(v >> 8)};
    };
    auto u32 = [&](int v) {
        return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
    };
    std::string tiff = (bigEndian ? "MM" : "II") + u16(42) + u32(8);
    tiff += u16(1) + u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0) + u32(0);
    std::string exif = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1" +
                          std::string{char((exif.size() + 2) >> 8), char((exif.size() + 2) & 255)} +
                          exif;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string Jpeg(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes.toStdString();
}

TEST(Orientation, ReadFromTheExifBlock) {
    std::string jpeg = Jpeg(QImage(40, 20, QImage::Format_RGB32));
    std::string cut = WithOrientation(jpeg, 6, false);
    cut.erase(30, 4);  // the directory's entry runs past the block's end
    struct {
        const char* what;
        std::string data;
        int orientation;
    } cases[] = {
        {"none", jpeg, 1},
        {"6, little-endian", WithOrientation(jpeg, 6, false), 6},
        {"8, big-endian", WithOrientation(jpeg, 8, true), 8},
        {"3", WithOrientation(jpeg, 3, false), 3},
        {"out of range", WithOrientation(jpeg, 9, false), 1},
        {"zero", WithOrientation(jpeg, 0, true), 1},
        {"malformed block", cut, 1},
    };
    for (const auto& c : cases) {
        ImageInfo info = ReadImageInfo(c.data);
        EXPECT_EQ(info.orientation, c.orientation) << c.what;
        if (c.what != std::string("malformed block")) {
            EXPECT_EQ(info.width, 40) << c.what;  // the size is still found after the block
        }
    }
}

// A picture whose left half is red and right half blue, stored turned as orientation says:
// decoded, it must be upright again (red left, blue right, wider than tall).
TEST(Orientation, DecodedPicturesAreUpright) {
    QImage upright(64, 32, QImage::Format_RGB32);
    upright.fill(Qt::blue);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            upright.setPixel(x, y, qRgb(255, 0, 0));
    struct {
        int orientation;
        QTransform stored;  // what the camera wrote
    } cases[] = {
        {1, QTransform()},
        {3, QTransform().rotate(180)},
        {6, QTransform().rotate(-90)},  // shown turned a quarter clockwise
        {8, QTransform().rotate(90)},
        {2, QTransform().scale(-1, 1)},
    };
    for (const auto& c : cases) {
        std::string data =
            WithOrientation(Jpeg(upright.transformed(c.stored)), c.orientation, false);
        ImageInfo info = ReadImageInfo(data);
        std::optional<RgbImage> image = DecodePicture(data, info, 2048);
        ASSERT_TRUE(image) << c.orientation;
        ASSERT_EQ(image->width, 64) << c.orientation;
        ASSERT_EQ(image->height, 32) << c.orientation;
        EXPECT_GT(image->At(8, 16)[0], 200) << c.orientation;   // red on the left
        EXPECT_GT(image->At(56, 16)[2], 200) << c.orientation;  // blue on the right
    }
}

std::string Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

QImage Filled(int width, int height, QImage::Format format, QColor colour) {
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

TEST(DecodePicture, PngKindsComeOutAsRgb) {
    struct {
        const char* what;
        QImage image;
        int width;  // after decoding with 2048 a side at most
        uint8_t red, green, blue;
    } cases[] = {
        {"colour", Filled(40, 20, QImage::Format_RGB32, QColor(200, 30, 10)), 40, 200, 30, 10},
        {"transparent counts as white", Filled(40, 20, QImage::Format_ARGB32, Qt::transparent), 40,
         255, 255, 255},
        {"half transparent black", Filled(40, 20, QImage::Format_ARGB32, QColor(0, 0, 0, 128)), 40,
         127, 127, 127},
        {"grey", Filled(40, 20, QImage::Format_Grayscale8, QColor(90, 90, 90)), 40, 90, 90, 90},
        {"16-bit grey", Filled(40, 20, QImage::Format_Grayscale16, QColor(90, 90, 90)), 40, 90, 90,
         90},
        {"wider than twice the limit: scaled down",
         Filled(4200, 30, QImage::Format_RGB32, QColor(0, 0, 255)), 2048, 0, 0, 255},
    };
    for (const auto& c : cases) {
        std::string data = Png(c.image);
        std::optional<RgbImage> image = DecodePicture(data, ReadImageInfo(data), 2048);
        ASSERT_TRUE(image) << c.what;
        EXPECT_EQ(image->width, c.width) << c.what;
        const uint8_t* p = image->At(1, 1);
        EXPECT_NEAR(p[0], c.red, 2) << c.what;
        EXPECT_NEAR(p[1], c.green, 2) << c.what;
        EXPECT_NEAR(p[2], c.blue, 2) << c.what;
    }
    std::string png = Png(Filled(40, 20, QImage::Format_RGB32, Qt::red));
    for (size_t keep : {png.size() / 2, png.size() - 20, size_t(40)}) {
        std::string cut = png.substr(0, keep);
        EXPECT_FALSE(DecodePicture(cut, ReadImageInfo(cut), 2048)) << keep;
    }
}

cv::Mat Decoded(const QByteArray& jpeg, RgbImage& keep) {
    std::string data = jpeg.toStdString();
    keep = *DecodePicture(data, ReadImageInfo(data), 2048);
    return cv::Mat(keep.height, keep.width, CV_8UC3, keep.pixels.data());
}

// Plates in typefaces the training never saw, turned, on car-coloured scenes: read exactly.
TEST(PlateReader, ReadsHeldOutPlates) {
    PlateReader reader(PLATE_MODEL_FILE, 1);
    ASSERT_TRUE(reader.Ready()) << reader.Problem();
    std::mt19937 random(4242);
    int exact = 0;
    constexpr int pictureCount = 12;
    for (int i = 0; i < pictureCount; ++i) {
        bool green = i % 2 == 1;
        plates::PlatePicture picture =
            plates::DrawHeldOutPlate(random, plates::RandomNumber(random, green), green);
        RgbImage image;
        std::optional<PlateReading> reading = reader.Read(Decoded(picture.jpeg, image));
        EXPECT_TRUE(reading) << picture.number;
        if (!reading) continue;
        EXPECT_EQ(reading->color, green ? PlateColor::Green : PlateColor::Blue) << picture.number;
        exact += reading->number == picture.number;
        if (reading->number != picture.number) {
            std::printf("read %s as %s (%.3f)\n", picture.number.c_str(), reading->number.c_str(),
                        reading->confidence);
        }
    }
    EXPECT_GE(exact, pictureCount - 1);
}

// Pictures with no plate give no reading, and a reader without a model none either.
TEST(PlateReader, NothingWhereThereIsNoPlate) {
    PlateReader reader(PLATE_MODEL_FILE, 1);
    ASSERT_TRUE(reader.Ready()) << reader.Problem();
    cv::Mat grey(300, 400, CV_8UC3, cv::Scalar(128, 128, 128));
    cv::Mat blue(300, 400, CV_8UC3, cv::Scalar(12, 62, 160));  // a plate's blue, no characters
    cv::Mat noise(300, 400, CV_8UC3);
    cv::randu(noise, 0, 255);
    for (const cv::Mat* picture : {&grey, &blue, &noise}) {
        EXPECT_FALSE(reader.Read(*picture));
    }
    PlateReader none("/nonexistent/plate-reader.onnx", 1);
    EXPECT_FALSE(none.Ready());
    EXPECT_NE(none.Problem().find("/nonexistent/plate-reader.onnx"), std::string::npos);
    EXPECT_FALSE(none.Read(grey));
}

// The service as curl meets it: token, then a plate picture; the answer's status and body.
class Curl {
  public:
    explicit Curl(servicetest::ServiceProcess& service, const std::string& dir)
        : service(service), dir(dir) {}

    // The HTTP status, the body in body; 0 when curl failed.
    int Post(const std::string& path, const std::string& form, std::string& body) {
        WriteFile(dir + "/request", form);
        std::string command =
            "curl -s --max-time 60 --cacert " + service.Authority() + " -o " + dir +
            "/answer -w '%{http_code}' -H 'Content-Type: "
            "application/x-www-form-urlencoded' --data-binary @" +
            dir + "/request 'https://127.0.0.1:" + std::to_string(service.Port()) + path + "' > " +
            dir + "/status";
        if (std::system(command.c_str()) != 0) return 0;
        body = servicetest::ReadFile(dir + "/answer");
        return std::atoi(servicetest::ReadFile(dir + "/status").c_str());
    }

    // A token for the built-in client; empty on failure.
    std::string Token() {
        std::string body;
        Post("/oauth/2.0/token?grant_type=client_credentials&client_id=" +
                 std::string(builtInClientId) + "&client_secret=" + builtInClientSecret,
             "", body);
        nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
        return json.contains("access_token") ? json["access_token"].get<std::string>() : "";
    }

    int PostPicture(const std::string& token, const std::string& picture, std::string& body) {
        return Post(
            "/rest/2.0/ocr/v1/license_plate?access_token=" + token,
            "image=" +
                QByteArray::fromStdString(picture).toBase64().toPercentEncoding().toStdString(),
            body);
    }

  private:
    servicetest::ServiceProcess& service;
    std::string dir;
};

// A missing or broken model: the plate endpoint answers error 5 and the log says why, the
// service stays up, and undecodable pictures still get their own answer.
TEST(PlateService, WithoutAUsableModelAnswersErrorFive) {
    servicetest::TempDir dir;
    std::string good = servicetest::ReadFile(PLATE_MODEL_FILE);
    struct {
        const char* what;
        std::string model;
        const char* reason;
    } cases[] = {
        {"missing", dir.Path() + "/none.onnx", "cannot read the model"},
        {"corrupt", WriteFile(dir.Path() + "/cut.onnx", good.substr(0, good.size() / 3)),
         "not a network OpenCV can load"},
    };
    std::mt19937 random(5);
    std::string plate = plates::DrawPlate(random, plates::RandomNumber(random, false), false,
                                          plates::Scene::CloseUp)
                            .jpeg.toStdString();
    for (const auto& c : cases) {
        servicetest::ServiceProcess service;
        std::string log = dir.Path() + "/" + c.what + ".log";
        ASSERT_TRUE(service.Start(RECOGNITION_SERVICE_BINARY,
                                  {"--listen", "127.0.0.1:0", "--state-dir", dir.Path() + "/state",
                                   "--plate-model", c.model},
                                  log))
            << c.what;
        Curl curl(service, dir.Path());
        std::string token = curl.Token();
        ASSERT_FALSE(token.empty()) << c.what;
        std::string body;
        EXPECT_EQ(curl.PostPicture(token, plate, body), 503) << c.what;
        EXPECT_EQ(body, R"({"error_code":5,"error_msg":"plate reader not available"})") << c.what;
        EXPECT_EQ(curl.PostPicture(token, plate.substr(0, plate.size() / 2), body), 400) << c.what;
        EXPECT_NE(body.find("\"error_code\":206"), std::string::npos) << c.what << body;
        EXPECT_EQ(service.Stop(), 0) << c.what;  // still running, ends cleanly
        std::string said = servicetest::ReadFile(log);
        EXPECT_NE(said.find("plate reader not available: "), std::string::npos) << said;
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
        EXPECT_NE(said.find(c.model), std::string::npos) << said;
    }
}

// A phone photograph: the pixels stored turned a quarter, the EXIF orientation saying so.
TEST(PlateService, ReadsAPhotographStoredSideways) {
    servicetest::TempDir dir;
    servicetest::ServiceProcess service;
    ASSERT_TRUE(service.Start(RECOGNITION_SERVICE_BINARY,
                              {"--listen", "127.0.0.1:0", "--state-dir", dir.Path() + "/state"},
                              dir.Path() + "/service.log"));
    Curl curl(service, dir.Path());
    std::string token = curl.Token();
    ASSERT_FALSE(token.empty());
    std::mt19937 random(99);
    plates::PlatePicture picture =
        plates::DrawHeldOutPlate(random, plates::RandomNumber(random, false), false);
    QImage upright = QImage::fromData(picture.jpeg, "JPEG");
    std::string sideways =
        WithOrientation(Jpeg(upright.transformed(QTransform().rotate(-90))), 6, false);
    std::string body;
    EXPECT_EQ(curl.PostPicture(token, sideways, body), 200);
    nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    ASSERT_TRUE(json.contains("plate")) << body;
    EXPECT_EQ(json["plate"]["number"], picture.number) << body;
    EXPECT_EQ(json["plate"]["color"], "blue") << body;
    // The corners in the upright picture's pixels: inside it, the plate lying wide.
    const nlohmann::json& box = json["plate"]["box"];
    ASSERT_TRUE(box.is_array() && box.size() == 4) << body;
    for (const nlohmann::json& corner : box) {
        EXPECT_GE(corner[0].get<int>(), 0) << body;
        EXPECT_LE(corner[0].get<int>(), upright.width()) << body;
        EXPECT_GE(corner[1].get<int>(), 0) << body;
        EXPECT_LE(corner[1].get<int>(), upright.height()) << body;
    }
    int wide = box[1][0].get<int>() - box[0][0].get<int>();
    int tall = box[3][1].get<int>() - box[0][1].get<int>();
    EXPECT_GT(wide, 2 * tall) << body;
}

}  // namespace
}  // namespace service

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
