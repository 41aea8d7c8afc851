// The tool's two speed figures, each next to a peer measured in the same run:
//  - start_to_window_ms: from starting the tool's process to its window shown with the token
//    fetched from the local recognition service (peer: the curl tool fetching the same token);
//  - load_encode_20mb_ms: reading a 20 MB picture, showing it and encoding it for the request
//    (peer: the base64 tool encoding the same file);
//  - load_show_48mp_jpeg_ms and box_memory_48mp_mib: reading an 8000 x 6000 camera JPEG and
//    showing it in the picture box, in a process of its own (tool_show_probe), and how far that
//    process's peak memory rose meanwhile (peer: ImageMagick's convert making the same picture
//    237 x 170).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/toolkit/qt/convert.h"
#include "bench/support/bench_support.h"
#include "tests/support/service_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int startRuns = 7;
constexpr int loadRuns = 5;
constexpr int showRuns = 5;
// A 24-bit BMP of 2560 x 2731 pixels: 20 MB of picture.
constexpr int bmpWidth = 2560;
constexpr int bmpHeight = 2731;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Runs the program; with `untilLine`, the time until it prints its first line (kept in *line),
// else until it ends, its output dropped.
double TimeProcess(const std::vector<std::string>& args, bool untilLine, std::string* line) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(untilLine ? fds[1] : null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char c;
    while (read(fds[0], &c, 1) == 1) {
        if (c == '\n' && untilLine) break;
        text.push_back(c);
    }
    auto end = Clock::now();
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    if (!untilLine) end = Clock::now();
    if (line != nullptr) *line = text;
    return Ms(end - start);
}

QByteArray Bmp() {
    const int rowBytes = bmpWidth * 3;
    const int imageBytes = rowBytes * bmpHeight;
    QByteArray bmp(54 + imageBytes, '\0');
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, bmp.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, bmpWidth);
    put32(22, bmpHeight);
    bmp[26] = 1;
    bmp[28] = 24;
    put32(34, imageBytes);
    for (int y = 0; y < bmpHeight; ++y) {
        char* row = bmp.data() + 54 + y * rowBytes;
        for (int x = 0; x < rowBytes; ++x)
            row[x] = char((x * 7 + y * 3) & 0xFF);
    }
    return bmp;
}

// ImageMagick's own binary, not whatever else is called convert on the path.
std::string Convert() {
    for (const char* candidate : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"})
        if (access(candidate, X_OK) == 0) return candidate;
    return "convert";
}

// A camera-like 8000 x 6000 JPEG: smooth colour fields with fine grain, quality 90.
bool MakePhoto(const std::string& path) {
    const std::string command = Convert() +
                                " -seed 3 -size 800x600 plasma:fractal -resize 8000x6000! "
                                "-attenuate 0.4 +noise Gaussian -quality 90 jpg:" +
                                path + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

struct Shown {
    double ms = -1;
    double mib = -1;
    std::string size;
    double cpuMs = -1;
};

Shown ShowOnce(const std::string& file) {
    std::string line;
    TimeProcess({SHOW_PROBE, file}, true, &line);
    Shown shown;
    char size[32] = {};
    if (std::sscanf(line.c_str(), "shown %lf %lf %31s %lf", &shown.ms, &shown.mib, size,
                    &shown.cpuMs) != 4)
        return {};
    shown.size = size;
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    servicetest::ServiceProcess service;
    if (!service.Start(
            RECOGNITION_SERVICE,
            {"--listen", "127.0.0.1:0", "--state-dir", dir.filePath("state").toStdString()}, "")) {
        std::fprintf(stderr, "tool bench: the recognition service did not start\n");
        return 1;
    }
    setenv("RECOGNIZER_HOST", service.HostPort().c_str(), 1);
    setenv("SSL_CERT_FILE", service.Authority().c_str(), 1);

    std::vector<double> start, curl;
    std::string line;
    TimeProcess({START_PROBE}, true, &line);  // warm the file cache
    for (int i = 0; i < startRuns; ++i) {
        start.push_back(TimeProcess({START_PROBE}, true, &line));
        if (line != "shown token") {
            std::fprintf(stderr, "tool bench: the tool got no token (%s)\n", line.c_str());
            return 1;
        }
        const std::string url = "https://" + service.HostPort() +
                                "/oauth/2.0/token?grant_type=client_credentials"
                                "&client_id=Qk3TzW8vLhN2pYs6GdXe4RaJ"
                                "&client_secret=h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";
        curl.push_back(TimeProcess(
            {"curl", "-s", "-X", "POST", "--cacert", service.Authority(), url}, false, nullptr));
    }

    const QString picture = dir.filePath("picture.bmp");
    {
        QFile file(picture);
        if (!file.open(QIODevice::WriteOnly) || file.write(Bmp()) < 0) return 1;
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    std::vector<double> load, base64;
    {
        CreateSession();
        MainWindow window;
        const Text path = toolkit::qt::ToText(picture);
        for (int i = 0; i < loadRuns; ++i) {
            const auto begin = Clock::now();
            window.LoadPicture(path);
            load.push_back(Ms(Clock::now() - begin));
            base64.push_back(TimeProcess({"base64", "-w0", picture.toStdString()}, false, nullptr));
        }
        ReleaseGlobals();
    }
    (void)argc;

    const std::string photo = dir.filePath("photo.jpg").toStdString();
    if (!MakePhoto(photo)) {
        std::fprintf(stderr, "tool bench: ImageMagick could not make the photo\n");
        return 1;
    }
    std::vector<double> show, showCpu, showMemory, convertPeer;
    std::string shownSize;
    const std::string small = dir.filePath("small.png").toStdString();
    for (int i = 0; i < showRuns; ++i) {
        const Shown shown = ShowOnce(photo);
        if (shown.ms < 0 || shown.size == "0x0") {
            std::fprintf(stderr, "tool bench: the box did not show the photo\n");
            return 1;
        }
        show.push_back(shown.ms);
        showCpu.push_back(shown.cpuMs);
        showMemory.push_back(shown.mib);
        shownSize = shown.size;
        convertPeer.push_back(
            TimeProcess({Convert(), photo, "-resize", "237x170", small}, false, nullptr));
    }

    const double startMs = bench::Median(start);
    const double curlMs = bench::Median(curl);
    const double loadMs = bench::Median(load);
    const double base64Ms = bench::Median(base64);
    std::printf(
        "start to window with token: %.1f ms; curl fetching the same token: %.1f ms "
        "(ratio %.2f)\n",
        startMs, curlMs, startMs / curlMs);
    std::printf(
        "load, show and encode 20 MB: %.1f ms; base64 tool on the same file: %.1f ms "
        "(ratio %.2f)\n",
        loadMs, base64Ms, loadMs / base64Ms);
    const double showMs = bench::Median(show);
    const double showMib = bench::Median(showMemory);
    const double convertMs = bench::Median(convertPeer);
    std::printf(
        "read and show an 8000 x 6000 JPEG (%.1f MB) in the box (drawn %s): %.1f ms (%.1f ms of "
        "processor time), peak memory +%.1f MiB; convert -resize 237x170 on the same file: "
        "%.1f ms (ratio %.2f)\n",
        double(QFileInfo(QString::fromStdString(photo)).size()) / 1e6, shownSize.c_str(), showMs,
        bench::Median(showCpu), showMib, convertMs, showMs / convertMs);
    std::printf("figure start_to_window_ms %.1f ms goal <300\n", startMs);
    std::printf("figure load_encode_20mb_ms %.1f ms goal <250\n", loadMs);
    std::printf("figure load_show_48mp_jpeg_ms %.1f ms goal <400\n", showMs);
    std::printf("figure box_memory_48mp_mib %.1f MiB goal <64\n", showMib);
    return 0;
}
