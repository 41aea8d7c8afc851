// The service's request parsing (heads, forms, tokens), picture header reading and plate
// rules.
#include <gtest/gtest.h>

#include <string>

#include "service/form.h"
#include "service/image_info.h"
#include "service/options.h"
#include "service/plate_rules.h"
#include "service/request_head.h"
#include "service/tokens.h"

namespace service {
namespace {

TEST(DecodeBase64, FollowsTheStandardAlphabetAndPadding) {
    struct {
        const char* text;
        bool valid;
        std::string bytes;
    } cases[] = {
        {"YQ==", true, "a"},
        {"YWI=", true, "ab"},
        {"YWJj", true, "abc"},
        {"YQ", true, "a"},            // padding left out
        {"YW\r\nJj", true, "abc"},    // line breaks skipped
        {"a b/", true, "k\xE6\xFF"},  // a blank is an unescaped "+"
        {"", true, ""},
        {"Y", false, ""},         // one symbol holds no byte
        {"YQ=", false, ""},       // padding must complete the group
        {"YQ==YQ==", false, ""},  // data after padding
        {"YW-j", false, ""},      // URL-safe alphabet is not standard Base64
        {"YW%4A", false, ""},     // an escape that was not decoded
        {"=", false, ""},
        {"====", false, ""},
    };
    for (const auto& c : cases) {
        std::optional<std::string> decoded = DecodeBase64(c.text);
        EXPECT_EQ(decoded.has_value(), c.valid) << c.text;
        if (decoded && c.valid) {
            EXPECT_EQ(*decoded, c.bytes) << c.text;
        }
    }
}

TEST(ParseForm, DecodesPercentEscapesAndPlus) {
    FormFields fields = ParseForm("image=%59%57%4A%6A&a+b=c%2Bd&flag&&bad=%G1%4");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], (std::pair<std::string, std::string>("image", "YWJj")));
    EXPECT_EQ(fields[1], (std::pair<std::string, std::string>("a b", "c+d")));
    EXPECT_EQ(fields[2], (std::pair<std::string, std::string>("flag", "")));
    EXPECT_EQ(fields[3], (std::pair<std::string, std::string>("bad", "%G1%4")));
    EXPECT_EQ(QueryOf("/p?x=1&y=2#f"), "x=1&y=2");
    EXPECT_EQ(QueryOf("/p"), "");
}

std::string Png(uint32_t w, uint32_t h) {
    std::string d = "\x89PNG\r\n\x1a\n";
    d += std::string("\0\0\0\x0dIHDR", 8);
    for (uint32_t v : {w, h}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            d += char((v >> shift) & 0xFF);
    }
    return d + std::string(5, '\0');
}

TEST(ReadImageInfo, TakesKindAndSizeFromTheHeader) {
    std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x04\x00\x00", 8) +     // APP0
                       std::string("\xFF\xC0\x00\x11\x08\x01\x2C\x02\x58", 9);  // 600 x 300
    std::string gif = std::string("GIF89a\x40\x01\xF0\x00", 10);                // 320 x 240
    std::string bmp = "BM" + std::string(12, '\0') + std::string("\x28\0\0\0", 4) +
                      std::string("\x10\0\0\0\xF0\xFF\xFF\xFF", 8);  // 16 x -16 (top-down)
    std::string webp = "RIFF" + std::string(4, '\0') + "WEBPVP8X" + std::string(8, '\0') +
                       std::string("\x7F\x02\x00\xDF\x01\x00", 6);  // 640 x 480
    struct {
        const char* name;
        std::string data;
        ImageKind kind;
        long width, height;
    } cases[] = {
        {"png", Png(9000, 20), ImageKind::Png, 9000, 20},
        {"png cut short", Png(10, 10).substr(0, 20), ImageKind::Png, 0, 0},
        {"jpeg", jpeg, ImageKind::Jpeg, 600, 300},
        {"jpeg without frame", jpeg.substr(0, 8), ImageKind::Jpeg, 0, 0},
        {"gif", gif, ImageKind::Gif, 320, 240},
        {"bmp", bmp, ImageKind::Bmp, 16, 16},
        {"webp", webp + std::string(4, '\0'), ImageKind::Webp, 640, 480},
        {"text", "hello, world", ImageKind::Unknown, 0, 0},
        {"empty", "", ImageKind::Unknown, 0, 0},
    };
    for (const auto& c : cases) {
        ImageInfo info = ReadImageInfo(c.data);
        EXPECT_EQ(info.kind, c.kind) << c.name;
        EXPECT_EQ(info.width, c.width) << c.name;
        EXPECT_EQ(info.height, c.height) << c.name;
    }
}

TEST(PlateRules, AcceptOnlyValidNumbers) {
    struct {
        const char* number;
        PlateColor color;
        bool valid;
    } cases[] = {
        {"京A12345", PlateColor::Blue, true},    {"粤BD1234", PlateColor::Blue, true},
        {"京A12345", PlateColor::Green, false},  // green plates have six after the letter
        {"沪AD12345", PlateColor::Green, true},  // small new-energy: D or F first
        {"沪A12345F", PlateColor::Green, true},  // large new-energy: D or F last
        {"沪A1234F5", PlateColor::Green, false}, {"沪AD12345", PlateColor::Unknown, true},
        {"京I12345", PlateColor::Blue, false},  // no I
        {"京O12345", PlateColor::Blue, false},  // no O
        {"京112345", PlateColor::Blue, false},  // the office letter is a letter
        {"京A1234", PlateColor::Blue, false},    {"京A123456", PlateColor::Blue, false},
        {"中A12345", PlateColor::Blue, false},  // no province
        {"京a12345", PlateColor::Blue, false},   {"", PlateColor::Unknown, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPlateNumber(c.number, c.color), c.valid) << c.number;
    }
}

TEST(Options, ListenAddressAndClients) {
    struct {
        const char* text;
        bool valid;
        const char* host;
        int port;
    } cases[] = {
        {"127.0.0.1:8443", true, "127.0.0.1", 8443},
        {"localhost:0", true, "localhost", 0},
        {"[::1]:9000", true, "::1", 9000},
        {"::1:9000", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
        {":80", false, "", 0},
        {"host:8x", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        int port = -1;
        EXPECT_EQ(ParseListenAddress(c.text, host, port), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
    std::string error;
    auto options =
        ParseOptions({"--client", "a:b", "--client", "c:d:e", "--state-dir", "/x"}, error);
    ASSERT_TRUE(options);
    ASSERT_EQ(options->clients.size(), 2u);
    EXPECT_EQ(options->clients[1].secret, "d:e");
    EXPECT_FALSE(ParseOptions({"--cert", "c.pem"}, error));  // --key missing
    EXPECT_FALSE(ParseOptions({"--client", "nosecret"}, error));
    EXPECT_FALSE(ParseOptions({"--listen"}, error));
    auto defaults = ParseOptions({"--state-dir", "/x"}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->clients[0].id, builtInClientId);
    EXPECT_EQ(defaults->port, 8443);
}

TEST(Options, TokenKeyFilesKeepTheirOrderAndThreadsTheirBounds) {
    std::string error;
    // The first key signs: the order given is the order kept.
    auto keys = ParseOptions(
        {"--state-dir", "/x", "--token-key-file", "new", "--token-key-file", "old"}, error);
    ASSERT_TRUE(keys) << error;
    EXPECT_EQ(keys->tokenKeyFiles, (std::vector<std::string>{"new", "old"}));
    struct {
        std::vector<std::string> args;
        bool valid;
    } cases[] = {
        {{"--token-key-file", "a", "--token-key-file", "b", "--token-key-file", "c"}, false},
        {{"--token-key-file"}, false},
        {{"--threads", "0"}, false},
        {{"--threads", "1"}, true},
        {{"--threads", "256"}, true},
        {{"--threads", "257"}, false},
        {{"--threads", "2x"}, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--state-dir", "/x"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(ParseOptions(args, error).has_value(), c.valid)
            << ::testing::PrintToString(c.args);
    }
}

std::string Head(const std::string& fields, const std::string& target = "/t") {
    return "POST " + target + " HTTP/1.1\r\n" + fields + "\r\n";
}

TEST(RequestHead, RefusesWhatRfc9112Forbids) {
    std::string manyFields;
    for (int i = 0; i < 100; ++i)
        manyFields += "X-" + std::to_string(i) + ": 1\r\n";
    struct {
        const char* name;
        std::string head;
        HeadVerdict verdict;
    } cases[] = {
        {"plain", Head("Host: a\r\nContent-Length: 5\r\n"), HeadVerdict::Ok},
        {"chunked", Head("Host: a\r\nTransfer-Encoding: chunked\r\n"), HeadVerdict::Ok},
        {"same length twice", Head("Host: a\r\nContent-Length: 5\r\nContent-Length: 5\r\n"),
         HeadVerdict::Ok},
        {"HTTP/1.0 without Host", "GET / HTTP/1.0\r\n\r\n", HeadVerdict::Ok},
        {"100 fields", Head("Host: a\r\n" + manyFields.substr(manyFields.find('\n') + 1)),
         HeadVerdict::Ok},
        {"101 fields", Head("Host: a\r\n" + manyFields), HeadVerdict::TooLarge},
        {"length and chunked",
         Head("Host: a\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n"),
         HeadVerdict::Malformed},
        {"chunked and length",
         Head("Host: a\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n"),
         HeadVerdict::Malformed},
        {"two lengths", Head("Host: a\r\nContent-Length: 5\r\nContent-Length: 6\r\n"),
         HeadVerdict::Malformed},
        {"length not a number", Head("Host: a\r\nContent-Length: +5\r\n"), HeadVerdict::Malformed},
        {"coding other than chunked", Head("Host: a\r\nTransfer-Encoding: gzip\r\n"),
         HeadVerdict::Malformed},
        {"chunked twice",
         Head("Host: a\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n"),
         HeadVerdict::Malformed},
        {"blank before the colon", Head("Host: a\r\nContent-Length : 5\r\n"),
         HeadVerdict::Malformed},
        {"obs-fold", Head("Host: a\r\nX-A: 1\r\n 2\r\n"), HeadVerdict::Malformed},
        {"no Host", Head("Content-Length: 0\r\n"), HeadVerdict::Malformed},
        {"two Hosts", Head("Host: a\r\nHost: b\r\n"), HeadVerdict::Malformed},
        {"bare LF", "POST /t HTTP/1.1\nHost: a\r\n\r\n", HeadVerdict::Malformed},
        {"bare CR", "POST /t HTTP/1.1\r\nHost: a\rX: 1\r\n\r\n", HeadVerdict::Malformed},
        {"no colon", Head("Host: a\r\nNoColon\r\n"), HeadVerdict::Malformed},
        {"no version", "POST /t\r\nHost: a\r\n\r\n", HeadVerdict::Malformed},
        {"target of 8 KiB", Head("Host: a\r\n", "/" + std::string(maxTarget - 1, 'a')),
         HeadVerdict::Ok},
        {"target over 8 KiB", Head("Host: a\r\n", "/" + std::string(maxTarget, 'a')),
         HeadVerdict::TargetTooLong},
        {"head over 16 KiB", Head("Host: a\r\nX: " + std::string(maxHeaderBlock, 'a') + "\r\n"),
         HeadVerdict::TooLarge},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckRequestHead(c.head), c.verdict) << c.name;
    // A head cut off at the limit: unfinished request line means the target is too long.
    EXPECT_EQ(OverlongHead("GET /" + std::string(maxHeaderBlock, 'a')), HeadVerdict::TargetTooLong);
    EXPECT_EQ(OverlongHead(Head("X: " + std::string(maxHeaderBlock, 'a'))), HeadVerdict::TooLarge);
}

TEST(Tokens, ValidateThemselvesUnderTheirKeyOnly) {
    TokenKey key{}, otherKey{};
    otherKey[0] = 1;
    TokenAuthority authority(key, std::chrono::seconds(60));
    std::string token = authority.Issue("client-a");
    ASSERT_FALSE(token.empty());
    std::string client;
    EXPECT_EQ(authority.Check(token, &client), TokenState::Valid);
    EXPECT_EQ(client, "client-a");
    EXPECT_NE(authority.Issue("client-a"), token);  // the random part

    std::string flipped = token;
    flipped[flipped.size() / 2] = flipped[flipped.size() / 2] == 'A' ? 'B' : 'A';
    struct {
        const char* name;
        std::string token;
    } refused[] = {
        {"one character changed", flipped},
        {"cut short", token.substr(0, token.size() - 1)},
        {"longer", token + "A"},
        {"empty", ""},
        {"not Base64url", token.substr(0, token.size() - 2) + "=="},
        {"another key", TokenAuthority(otherKey, std::chrono::seconds(60)).Issue("client-a")},
    };
    for (const auto& r : refused)
        EXPECT_EQ(authority.Check(r.token), TokenState::Unknown) << r.name;

    // An expired token is recognised as such (a negative lifetime makes one).
    TokenAuthority past(key, std::chrono::seconds(-1));
    EXPECT_EQ(authority.Check(past.Issue("client-a")), TokenState::Expired);
}

}  // namespace
}  // namespace service
