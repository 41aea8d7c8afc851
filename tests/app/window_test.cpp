// The main window as the tool builds it: size, flags, centring, font, colours, every control's
// place, size and settings, the edit box's wrapping, and the busy cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <cstdlib>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/toolkit/qt/convert.h"
#include "app/toolkit/qt/picture_widget.h"
#include "tests/app/main_window_shown.h"

namespace {

// A shown main window whose token fetch is refused at once (nothing listens on port 1).
class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("RECOGNIZER_HOST", "127.0.0.1:1", 1);
        window = ShowMainWindow();
        top = TopWindow();
        ASSERT_NE(top, nullptr);
    }
    void TearDown() override {
        window.reset();
        ReleaseGlobals();
        unsetenv("RECOGNIZER_HOST");
    }
    template <typename T>
    T* Control(const char* name) {
        return top->findChild<T*>(QString::fromUtf8(name));
    }

    std::unique_ptr<MainWindow> window;
    QWidget* top = nullptr;
};

TEST_F(MainWindowTest, HasItsFixedSizeFlagsAndPlace) {
    EXPECT_EQ(top->size(), QSize(628, 194));
    EXPECT_EQ(top->minimumSize(), QSize(628, 194));
    EXPECT_EQ(top->maximumSize(), QSize(628, 194));
    EXPECT_TRUE(top->windowTitle().isEmpty());
    const Qt::WindowFlags flags = top->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(top->pos(), QPoint(screen.left() + (screen.width() - 634) / 2,
                                 screen.top() + (screen.height() - 223) / 2));
    EXPECT_EQ(top->font(), QApplication::font());
    EXPECT_EQ(top->palette().color(top->backgroundRole()),
              QApplication::palette().color(QPalette::Button));
    EXPECT_TRUE(top->autoFillBackground());
}

TEST_F(MainWindowTest, HasEveryControlInItsPlace) {
    struct {
        const char* name;
        QRect place;
        const char* caption;
    } buttons[] = {
        {"按钮1", {488, 8, 104, 32}, "载入图片"},
        {"按钮2", {488, 48, 104, 32}, "识别植物"},
        {"按钮3", {488, 88, 104, 32}, "识别车牌号"},
    };
    for (const auto& b : buttons) {
        auto* button = Control<QPushButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->geometry(), b.place) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption)) << b.name;
        EXPECT_EQ(button->font(), QApplication::font()) << b.name;
    }
    auto* picture = Control<toolkit::qt::PictureWidget>("图片框1");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(15, 5, 240, 176));
    EXPECT_TRUE(picture->PictureRect().isEmpty());
    EXPECT_EQ(BytesLength(picture->GetPicture()), 0);

    auto* edit = Control<QPlainTextEdit>("编辑框1");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->geometry(), QRect(265, 7, 215, 177));
    EXPECT_TRUE(edit->toPlainText().isEmpty());
    EXPECT_FALSE(edit->isReadOnly());
    EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(edit->frameShadow(), QFrame::Sunken);
    const QPalette colours = edit->palette();
    EXPECT_EQ(colours.color(QPalette::Active, QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(colours.color(QPalette::Active, QPalette::Base), QColor(Qt::white));
    // Without focus a selection is drawn like the rest of the text.
    EXPECT_EQ(colours.color(QPalette::Inactive, QPalette::Highlight), QColor(Qt::white));
    EXPECT_EQ(colours.color(QPalette::Inactive, QPalette::HighlightedText), QColor(Qt::black));

    EXPECT_EQ(TextLength(encodedPicture), 0);
}

TEST_F(MainWindowTest, LongAnswerWrapsWithoutScrollBars) {
    auto* edit = Control<QPlainTextEdit>("编辑框1");
    ASSERT_NE(edit, nullptr);
    QString answer = QStringLiteral("{\"log_id\":1234567890,\"words_result\":{\"color\":\"blue\",");
    for (int i = 0; i < 40; ++i)
        answer += QStringLiteral("\"number\":\"京A·F0236\", ");
    answer += QStringLiteral("\"probability\":[0.99]}}");
    window->EditBox1().SetText(toolkit::qt::ToText(answer));
    EXPECT_EQ(edit->toPlainText(), answer);
    QApplication::processEvents();
    EXPECT_GT(edit->document()->firstBlock().layout()->lineCount(), 10);
    EXPECT_FALSE(edit->verticalScrollBar()->isVisible());
    EXPECT_FALSE(edit->horizontalScrollBar()->isVisible());
    // One word longer than the box breaks where the line ends instead of running out of view.
    window->EditBox1().SetText(toolkit::qt::ToText(QString(300, 'x')));
    QApplication::processEvents();
    EXPECT_GT(edit->document()->firstBlock().layout()->lineCount(), 1);
}

TEST(BusyCursorTest, ShowsTheBusyCursorWhileARequestBlocks) {
    toolkit::WindowSettings settings;
    settings.clientWidth = 100;
    settings.clientHeight = 50;
    auto window = toolkit::NewWindow(settings);
    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        toolkit::BusyCursor busy(*window);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
