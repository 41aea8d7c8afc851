// Benchmark: GET of a 256 MiB file from nginx on loopback through WinHTTP (WinHttpReadData into
// a 64 KiB buffer), next to `curl -s -o /dev/null` of the same URL in the same run, and the
// layer's peak memory for the transfer (VmHWM growth of a child process that does only that).
//
// nginx runs with a generated configuration in a temporary directory, `daemon off`, on an
// ephemeral port, and is stopped at the end.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "platform/winapi.h"
#include "tests/support/spawn.h"

extern char** environ;

namespace {

constexpr long long fileBytes = 256LL * 1024 * 1024;  // the file served
constexpr DWORD readBuffer = 64 * 1024;               // WinHttpReadData's room
constexpr int roundCount = 7;         // alternating rounds; the median of the paired ratios counts
constexpr double timeGoal = 1.2;      // at most 1.2 times curl's time
constexpr double memoryGoalMiB = 16;  // the layer's peak under 16 MiB

using Clock = std::chrono::steady_clock;

// Writes the big file nginx serves; false on failure.
bool WriteBigFile(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + 7);
    for (long long written = 0; written < fileBytes;
         written += static_cast<long long>(block.size())) {
        out.write(block.data(), std::streamsize(block.size()));
    }
    return static_cast<bool>(out);
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CurlSeconds(const std::string& url) {
    auto start = Clock::now();
    pid_t pid = testsupport::Spawn({"curl", "-s", "-o", "/dev/null", url}, false);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return Seconds(Clock::now() - start);
}

struct LayerRun {
    double seconds = -1;
    double peakMiB = 0;
};

// The GET through WinHTTP; returns the bytes read, -1 on failure.
long long LayerGet(int port) {
    HINTERNET session =
        WinHttpOpen(u"http_get bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", INTERNET_PORT(port), 0);
    HINTERNET request =
        WinHttpOpenRequest(connection, u"GET", u"/big.bin", nullptr, nullptr, nullptr, 0);
    long long total = -1;
    if (request && WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        std::vector<char> buffer(readBuffer);
        total = 0;
        DWORD read = 0;
        while (WinHttpReadData(request, buffer.data(), readBuffer, &read) && read > 0) {
            total += read;
        }
    }
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    return total;
}

// Runs the layer's GET in a child process so that its peak memory is its own.
LayerRun LayerInChild(int port) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        long baseline = bench::StatusKiB("VmRSS");
        auto start = Clock::now();
        long long bytes = LayerGet(port);
        LayerRun run{Seconds(Clock::now() - start),
                     double(bench::StatusKiB("VmHWM") - baseline) / 1024.0};
        if (bytes != fileBytes) run.seconds = -1;
        [[maybe_unused]] ssize_t written = ::write(fds[1], &run, sizeof run);
        ::_exit(0);
    }
    ::close(fds[1]);
    LayerRun run;
    if (pid < 0 || ::read(fds[0], &run, sizeof run) != ssize_t(sizeof run)) run = {};
    ::close(fds[0]);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return run;
}

}  // namespace

int main() {
    bench::Nginx nginx("http-get-bench");
    if (!WriteBigFile(nginx.Root() + "/big.bin") || !nginx.Start()) {
        std::fprintf(stderr, "http_get: nginx did not start\n");
        return 1;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/big.bin";
    CurlSeconds(url);  // warms the page cache
    std::vector<double> curlTimes, layerTimes, ratios;
    double peakMiB = 0;
    for (int round = 0; round < roundCount; ++round) {
        double curl = CurlSeconds(url);
        LayerRun layer = LayerInChild(nginx.Port());
        if (curl < 0 || layer.seconds < 0) {
            std::fprintf(stderr, "http_get: a transfer failed (curl %.3f, layer %.3f)\n", curl,
                         layer.seconds);
            return 1;
        }
        std::printf("round %d: curl %.3f s, WinHTTP layer %.3f s, layer peak %.1f MiB\n", round + 1,
                    curl, layer.seconds, layer.peakMiB);
        curlTimes.push_back(curl);
        layerTimes.push_back(layer.seconds);
        ratios.push_back(layer.seconds / curl);
        peakMiB = std::max(peakMiB, layer.peakMiB);
    }
    double mib = double(fileBytes) / (1024 * 1024);
    double curlMedian = bench::Median(curlTimes), layerMedian = bench::Median(layerTimes);
    std::printf("curl -s -o /dev/null: median %.3f s (%.0f MiB/s)\n", curlMedian, mib / curlMedian);
    std::printf("WinHTTP layer:        median %.3f s (%.0f MiB/s)\n", layerMedian,
                mib / layerMedian);
    std::printf("figure http_get_vs_curl_cli %.2f ratio goal <=%.1f\n", bench::Median(ratios),
                timeGoal);
    std::printf("figure http_get_layer_peak_memory_mib %.1f MiB goal <%.0f\n", peakMiB,
                memoryGoalMiB);
    return 0;
}
