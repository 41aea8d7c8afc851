// The exit routines run exactly once whichever way the program ends, and the program's status
// is the one that way gives (no crash on the way out). Each case runs exit_probe.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

struct Outcome {
    QProcess::ExitStatus how = QProcess::NormalExit;
    int status = -1;
    QByteArray output;
    QByteArray errors;
};

Outcome RunProbe(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(EXIT_PROBE, arguments);
    Outcome outcome;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        outcome.errors = "did not end within 30 s";
        return outcome;
    }
    outcome.how = process.exitStatus();
    outcome.status = process.exitCode();
    outcome.output = process.readAllStandardOutput();
    outcome.errors = process.readAllStandardError();
    return outcome;
}

TEST(ExitPathsTest, TheExitRoutineRunsOnceOnEveryWayOut) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    struct {
        const char* how;
        int status;
    } cases[] = {
        {"close", 0},   // the last window closed
        {"quit", 0},    // QCoreApplication::exit
        {"exit", 4},    // std::exit from a handler, the loop still running
        {"return", 0},  // main returns without a loop: the routine runs at exit
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunProbe({c.how}, environment);
        EXPECT_EQ(outcome.how, QProcess::NormalExit) << c.how << ": " << outcome.errors.data();
        EXPECT_EQ(outcome.status, c.status) << c.how << ": " << outcome.errors.data();
        EXPECT_EQ(outcome.output, QByteArray("routine\n")) << c.how;
    }
}

TEST(ExitPathsTest, InitialiseFailsWithoutADisplay) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("WAYLAND_DISPLAY");
    struct {
        const char* what;
        const char* display;  // nullptr: not set
    } cases[] = {
        {"DISPLAY not set", nullptr},
        {"DISPLAY naming no server", ":999"},
    };
    for (const auto& c : cases) {
        QProcessEnvironment env = environment;
        env.remove("DISPLAY");
        if (c.display != nullptr) env.insert("DISPLAY", c.display);
        const Outcome outcome = RunProbe({"close"}, env);
        EXPECT_EQ(outcome.how, QProcess::NormalExit) << c.what;
        EXPECT_EQ(outcome.status, 3) << c.what << ": " << outcome.errors.data();
        EXPECT_TRUE(outcome.output.isEmpty()) << c.what;
    }
}

}  // namespace
