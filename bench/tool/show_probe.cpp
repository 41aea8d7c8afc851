// Shows one picture file in the tool's picture box, as the load button does (the file read
// whole, given to the box, the box drawn), and prints the time that took and how far the
// process's peak memory rose meanwhile:
//   shown MILLISECONDS MIB WIDTHxHEIGHT CPU_MILLISECONDS
// (WIDTHxHEIGHT: where the box drew the picture, 0x0 when it showed nothing; CPU_MILLISECONDS:
// the processor time the process spent on it, which a busy machine does not stretch).
// Usage: tool_show_probe FILE
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <QApplication>

#include "app/picture_loading.h"
#include "app/toolkit/qt/convert.h"
#include "app/toolkit/qt/picture_widget.h"
#include "app/toolkit/toolkit.h"
#include "bench/support/bench_support.h"

namespace {

double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!toolkit::Initialise(argc, argv)) return 1;
    toolkit::WindowSettings settings;
    settings.clientWidth = 628;
    settings.clientHeight = 194;
    auto window = toolkit::NewWindow(settings);
    toolkit::PictureBox& box = window->AddPictureBox(Text("box"), {15, 5, 240, 176});
    window->Show(nullptr);
    QApplication::processEvents();
    const Text path = toolkit::qt::ToText(QString::fromLocal8Bit(argv[1]));

    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";  // the peak starts again from the resident size now
    }
    const long before = bench::StatusKiB("VmHWM");
    const double cpuStart = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    box.SetPicture(ReadFileBytes(path));
    auto& widget = dynamic_cast<toolkit::qt::PictureWidget&>(box);
    widget.repaint();
    const auto end = std::chrono::steady_clock::now();
    const double cpu = CpuMs() - cpuStart;
    const long after = bench::StatusKiB("VmHWM");

    const QRect shown = widget.PictureRect();
    std::printf("shown %.1f %.1f %dx%d %.1f\n",
                std::chrono::duration<double, std::milli>(end - start).count(),
                double(after - before) / 1024.0, shown.width(), shown.height(), cpu);
    return 0;
}
