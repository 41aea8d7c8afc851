// The message loop ends when the window closes and then runs the exit routine exactly once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "app/toolkit/toolkit.h"

namespace {

int exitRuns = 0;
int createdRunsBeforeLoop = 0;

void CountExit() {
    ++exitRuns;
}

TEST(MessageLoopTest, RunsTheCreatedEventFirstAndTheExitRoutineOnce) {
    int created = 0;
    toolkit::RegisterExitRoutine(CountExit);
    toolkit::WindowSettings settings;
    settings.clientWidth = 120;
    settings.clientHeight = 60;
    auto window = toolkit::NewWindow(settings);
    window->Show([&] { ++created; });
    createdRunsBeforeLoop = created;
    QTimer::singleShot(0, [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
    });
    EXPECT_EQ(toolkit::RunMessageLoop(), 0);
    EXPECT_EQ(createdRunsBeforeLoop, 1);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(exitRuns, 1);
    // A second loop (nothing registered again) does not run it twice.
    QTimer::singleShot(0, [] { QApplication::quit(); });
    toolkit::RunMessageLoop();
    EXPECT_EQ(exitRuns, 1);
}

}  // namespace
