// The picture-loading handler with the file dialog's choice scripted, file reading on bad
// input, and the exit clean-up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/picture_loading.h"
#include "app/toolkit/qt/convert.h"
#include "dialog_script.h"
#include "fixtures.h"
#include "tests/app/main_window_shown.h"

namespace {

std::string Str(const Text& text) {
    return TextLength(text) == 0 ? "" : text.c_str();
}

QByteArray ToByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class LoadPictureTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setenv("RECOGNIZER_HOST", "127.0.0.1:1", 1);
        window = ShowMainWindow();
    }
    void TearDown() override {
        window.reset();
        ReleaseGlobals();
        unsetenv("RECOGNIZER_HOST");
    }
    QString Write(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    // Clicks "载入图片" with the dialog's answer scripted (an empty path cancels).
    void Load(const QString& choice) {
        dialog_script::Next(choice);
        window->OnLoadPictureClicked();
    }
    QByteArray Shown() { return ToByteArray(window->PictureBox1().GetPicture()); }

    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

TEST_F(LoadPictureTest, CancellingTheFirstDialogClearsEverything) {
    Load("");
    EXPECT_EQ(Str(window->FileDialog1().FileName()), "");
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(Str(encodedPicture), "");
}

TEST_F(LoadPictureTest, AFileOfAbcIsEncodedButNotShown) {
    const QString path = Write("abc.png", "abc");
    Load(path);
    EXPECT_EQ(Str(window->FileDialog1().FileName()), path.toStdString());
    EXPECT_EQ(Shown(), QByteArray("abc"));
    EXPECT_EQ(Str(encodedPicture), "%59%57%4A%6A");
}

TEST_F(LoadPictureTest, PlusSlashAndEqualsArePercentEncoded) {
    Load(Write("signs.bin", QByteArray("\xFB\xFF", 2)));  // Base64 "+/8="
    EXPECT_EQ(Str(encodedPicture), "%2B%2F%38%3D");
}

TEST_F(LoadPictureTest, CancelAfterAChoiceLoadsThatFileAgain) {
    const QByteArray png = fixtures::Encode(fixtures::Solid(30, 20, Qt::red), "PNG");
    const QString a = Write("a.png", png);
    Load(a);
    const std::string first = Str(encodedPicture);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.size() % 3, 0u);
    Write("a.png", png + "more");  // the file changed on disk: the cancel reads it anew
    Load("");
    EXPECT_EQ(Str(window->FileDialog1().FileName()), a.toStdString());
    EXPECT_EQ(Shown(), png + "more");
    EXPECT_NE(Str(encodedPicture), first);

    const QString b = Write("b.bin", "abc");
    Load(b);
    EXPECT_EQ(Str(window->FileDialog1().FileName()), b.toStdString());
    EXPECT_EQ(Str(encodedPicture), "%59%57%4A%6A");
}

TEST_F(LoadPictureTest, BadFilesGiveEmptyOrEncodedValuesWithoutFailing) {
    const QByteArray png = fixtures::Encode(fixtures::Solid(300, 200, Qt::red), "PNG");
    struct {
        const char* name;
        QByteArray content;
        bool encoded;  // the bytes are still encoded, though nothing is shown
    } cases[] = {
        {"empty.png", QByteArray(), false},
        {"truncated.png", png.left(png.size() / 2), true},
        {"text.jpg", QByteArray("this is no picture\n"), true},
    };
    for (const auto& c : cases) {
        Load(Write(c.name, c.content));
        EXPECT_EQ(Shown(), c.content) << c.name;
        EXPECT_EQ(!Str(encodedPicture).empty(), c.encoded) << c.name;
    }
}

TEST(ReadFileBytesTest, GivesEmptyBytesForWhatCannotBeRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString locked = dir.filePath("locked.bin");
    {
        QFile file(locked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("secret");
    }
    chmod(locked.toLocal8Bit().constData(), 0);
    // A sparse file beyond what a request body's 32-bit length can carry once encoded.
    const QString huge = dir.filePath("huge.bin");
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(600) * 1024 * 1024));
    }
    const bool root = geteuid() == 0;
    struct {
        const char* what;
        QString path;
    } cases[] = {
        {"empty path", ""},
        {"missing file", dir.filePath("missing.png")},
        {"a directory", dir.path()},
        {"a device", "/dev/zero"},
        {"no permission", root ? QString() : locked},
        {"600 MiB", huge},
    };
    for (const auto& c : cases) {
        const Bytes data = ReadFileBytes(toolkit::qt::ToText(c.path));
        EXPECT_EQ(BytesLength(data), 0) << c.what;
    }
}

TEST(ReadFileBytesTest, ReadsWholeFilesAlsoUnderChineseNames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray content(100000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 7);
    const QString path = dir.filePath(QString::fromUtf8("车牌.bin"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    EXPECT_EQ(ToByteArray(ReadFileBytes(toolkit::qt::ToText(path))), content);
}

TEST(ReleaseGlobalsTest, ReleasesEverythingWhateverWasSet) {
    CreateSession();
    accessToken = Text("token");
    encodedPicture = Text("%41");
    ReleaseGlobals();
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(TextLength(accessToken), 0);
    EXPECT_EQ(TextLength(encodedPicture), 0);
    ReleaseGlobals();  // nothing left to release: no fault
    EXPECT_EQ(session, nullptr);
}

}  // namespace
