// The whole tool against a recording HTTPS server: what arrives, byte for byte, for the token
// request and the two recognition requests, and what the window shows for each kind of answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/toolkit/qt/convert.h"
#include "tests/app/dialog_script.h"
#include "tests/app/main_window_shown.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_server.h"

namespace {

using testsupport::Request;

constexpr const char* tokenTarget =
    "/oauth/2.0/token?grant_type=client_credentials&client_id=Qk3TzW8vLhN2pYs6GdXe4RaJ"
    "&client_secret=h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";
constexpr const char* tokenAnswerBody =
    R"({"access_token":"24.f00d.2592000","expires_in":2592000})";
constexpr const char* plateAnswer = R"({"words_result":{"color":"blue","number":"京A·F0236"}})";

std::string Str(const Text& text) {
    return text.c_str();
}

// A TLS server with a certificate for 127.0.0.1 from a test CA that SSL_CERT_FILE names (or,
// with trusted false, from a CA nobody trusts), answering tokens and recognitions.
class RecordingTest : public testing::Test {
  protected:
    void Start(bool trusted = true) {
        ASSERT_TRUE(dir.isValid());
        const auto issued = ca.Issue({"localhost", "127.0.0.1"});
        testsupport::TestCa other;
        const std::string authority = dir.filePath("ca.pem").toStdString();
        ASSERT_TRUE((trusted ? ca : other).WriteCertificate(authority));
        server = std::make_unique<testsupport::TestServer>(
            testsupport::TestServer::Tls{issued.certificatePem, issued.keyPem});
        server->Handle([this](const Request& request, testsupport::Connection& connection) {
            OnRequest(request, connection);
        });
        setenv("SSL_CERT_FILE", authority.c_str(), 1);
        host = "127.0.0.1:" + std::to_string(server->Port());
        setenv("RECOGNIZER_HOST", host.c_str(), 1);
        window = ShowMainWindow();
        top = TopWindow();
        ASSERT_NE(top, nullptr);
    }
    void TearDown() override {
        window.reset();
        ReleaseGlobals();
        server.reset();
        unsetenv("SSL_CERT_FILE");
        unsetenv("RECOGNIZER_HOST");
    }
    virtual void OnRequest(const Request& request, testsupport::Connection& connection) {
        if (request.target.rfind("/oauth/", 0) == 0) {
            connection.Write(
                testsupport::Response("200 OK", tokenAnswer, {"Content-Type: application/json"}));
            return;
        }
        // The window is blocked in this request now: the cursor it shows can be read safely.
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busyDuringRequest = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
        connection.Write(
            testsupport::Response("200 OK", recognitionAnswer, {"Content-Type: application/json"}));
    }
    void Click(const char* name) {
        QTest::mouseClick(top->findChild<QPushButton*>(QString::fromUtf8(name)), Qt::LeftButton);
    }
    void LoadFile(const QByteArray& content) {
        const QString path = dir.filePath("picture.bin");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        dialog_script::Next(path);
        Click("按钮1");
    }
    QString Shown() { return toolkit::qt::ToQString(window->EditBox1().GetText()); }

    std::string tokenAnswer = tokenAnswerBody;
    std::string recognitionAnswer = plateAnswer;
    std::atomic<bool> busyDuringRequest{false};
    QTemporaryDir dir;
    testsupport::TestCa ca;
    std::unique_ptr<testsupport::TestServer> server;
    std::string host;
    std::unique_ptr<MainWindow> window;
    QWidget* top = nullptr;
};

TEST_F(RecordingTest, TokenRequestArrivesAsSent) {
    Start();
    EXPECT_EQ(Str(accessToken), "24.f00d.2592000");
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& token = requests[0];
    EXPECT_EQ(token.method, "POST");
    EXPECT_EQ(token.target, tokenTarget);
    EXPECT_EQ(token.body, "");
    // Host right after the request line, then the stock headers in their order, then what
    // WinHTTP adds itself.
    const std::string expected =
        std::string("POST ") + tokenTarget + " HTTP/1.1\r\n" + "Host: " + host + "\r\n" +
        "Accept: */*\r\n"
        "Accept-Language: zh-cn\r\n"
        "Cache-Control: no-cache\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "User-Agent: Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)\r\n"
        "Content-Length: 0\r\n"
        "Connection: Keep-Alive\r\n"
        "\r\n";
    EXPECT_EQ(token.raw, expected);
}

TEST_F(RecordingTest, PlateRequestPostsTheEncodedPictureAndShowsTheAnswer) {
    Start();
    LoadFile("abc");
    Click("按钮3");
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    const Request& plate = requests[1];
    EXPECT_EQ(plate.method, "POST");
    EXPECT_EQ(plate.target, "/rest/2.0/ocr/v1/license_plate?access_token=24.f00d.2592000");
    EXPECT_EQ(plate.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(plate.Header("Content-Length"), "18");
    EXPECT_EQ(plate.body, "image=%59%57%4A%6A");
    EXPECT_EQ(Shown(), QString::fromUtf8(plateAnswer));
    EXPECT_TRUE(busyDuringRequest);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // The token request's connection carries the recognition too.
    EXPECT_EQ(plate.connection, requests[0].connection);
}

TEST_F(RecordingTest, BeforeAnyPictureTheBodyIsImageAlone) {
    Start();
    recognitionAnswer = R"({"error_code":216201,"error_msg":"image format error"})";
    Click("按钮2");
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/rest/2.0/image-classify/v1/plant?access_token=24.f00d.2592000");
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[1].body, "image=");
    EXPECT_EQ(Shown(), QString::fromUtf8(recognitionAnswer.c_str()));
    // A second press replaces the text.
    recognitionAnswer = R"({"result":[{"name":"向日葵","score":0.97}]})";
    Click("按钮2");
    EXPECT_EQ(Shown(), QString::fromUtf8(recognitionAnswer.c_str()));
}

TEST_F(RecordingTest, TokenWithoutEndMarkerLeavesTheTokenEmpty) {
    tokenAnswer = R"({"expires_in":2592000,"access_token":"24.f00d.2592000"})";
    Start();
    EXPECT_EQ(Str(accessToken), "");
    Click("按钮3");
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/rest/2.0/ocr/v1/license_plate?access_token=");
}

TEST_F(RecordingTest, GarbageAndInvalidUtf8AnswersAreShownAsTheyConvert) {
    Start();
    struct {
        const char* what;
        std::string answer;
        const char* shownStart;  // what the edit box shows first
    } cases[] = {
        {"not JSON", "<html>502 Bad Gateway</html>", "<html>502 Bad Gateway</html>"},
        {"invalid UTF-8", std::string("{\"x\":\"\xFF\xFE\xC0\x80\"}"), "{\"x\":\""},
        {"cut in a character", std::string("{\"x\":\"\xE4\xB8"), "{\"x\":\""},
        {"zero byte inside", std::string("abc\0def", 7), "abc"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        recognitionAnswer = c.answer;
        window->EditBox1().SetText(Text("before"));
        Click("按钮3");
        const QString start = QString::fromUtf8(c.shownStart);
        EXPECT_EQ(Shown().left(start.size()), start) << c.what << ": " << Shown().toStdString();
        EXPECT_NE(Shown(), QStringLiteral("before")) << c.what;
    }
}

// The token request carries the client secret: it must never go to a server whose certificate
// is not trusted, even though a fresh session would ignore certificate errors once.
TEST_F(RecordingTest, TokenRequestChecksTheServerCertificate) {
    Start(false);
    EXPECT_EQ(Str(accessToken), "");
    EXPECT_EQ(server->Requests().size(), 0u);
    Click("按钮3");
    EXPECT_EQ(server->Requests().size(), 0u);
    EXPECT_EQ(Shown(), QString());
}

TEST(ServiceDownTest, TheWindowWorksAndShowsEmptyAnswers) {
    // Nothing listens on port 1: every request is refused.
    setenv("RECOGNIZER_HOST", "127.0.0.1:1", 1);
    CreateSession();
    {
        MainWindow window;
        window.Show();
        EXPECT_EQ(TextLength(accessToken), 0);
        window.EditBox1().SetText(Text("before"));
        window.OnRecognizePlateClicked();
        EXPECT_EQ(TextLength(window.EditBox1().GetText()), 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    ReleaseGlobals();
    unsetenv("RECOGNIZER_HOST");
}

}  // namespace
