// The whole tool against the local recognition service: the token is fetched at start, and
// each button shows the service's JSON answer for the sample pictures.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/toolkit/qt/convert.h"
#include "tests/app/dialog_script.h"
#include "tests/app/main_window_shown.h"
#include "tests/support/service_process.h"

namespace {

QString Sample(const char* name) {
    return QStringLiteral(RECOGNIZER_SAMPLES "/") + name;
}

TEST(LocalServiceTest, ShowsTheServiceAnswersForThePlateAndThePlant) {
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    servicetest::ServiceProcess service;
    ASSERT_TRUE(
        service.Start(RECOGNITION_SERVICE,
                      {"--listen", "127.0.0.1:0", "--state-dir", state.path().toStdString()}, ""));
    setenv("RECOGNIZER_HOST", service.HostPort().c_str(), 1);
    setenv("SSL_CERT_FILE", service.Authority().c_str(), 1);

    CreateSession();
    {
        MainWindow window;
        window.Show();
        EXPECT_GT(TextLength(accessToken), 0);
        QWidget* top = TopWindow();
        ASSERT_NE(top, nullptr);
        struct {
            const char* picture;
            const char* button;
            const char* inAnswer;  // what the answer must hold
        } cases[] = {{"plate.jpg", "按钮3", "F0236"}, {"plant.jpg", "按钮2", ""}};
        for (const auto& c : cases) {
            dialog_script::Next(Sample(c.picture));
            QTest::mouseClick(top->findChild<QPushButton*>(QString::fromUtf8("按钮1")),
                              Qt::LeftButton);
            EXPECT_GT(TextLength(encodedPicture), 0) << c.picture;
            QTest::mouseClick(top->findChild<QPushButton*>(QString::fromUtf8(c.button)),
                              Qt::LeftButton);
            const QString answer = toolkit::qt::ToQString(window.EditBox1().GetText());
            EXPECT_TRUE(answer.startsWith('{')) << c.picture << ": " << answer.toStdString();
            EXPECT_TRUE(answer.trimmed().endsWith('}')) << c.picture;
            EXPECT_TRUE(answer.contains(QString::fromUtf8(c.inAnswer))) << c.picture;
            std::printf("%s: %s\n", c.picture, answer.toUtf8().constData());
        }
    }
    ReleaseGlobals();
    unsetenv("RECOGNIZER_HOST");
    unsetenv("SSL_CERT_FILE");
}

}  // namespace
