// Benchmark: GET of a 256 MiB file from nginx on loopback through WinHTTP (WinHttpReadData into
// a 64 KiB buffer), next to `curl -s -o /dev/null` of the same URL in the same run, and the
// layer's peak memory for the transfer (VmHWM growth of a child process that does only that).
//
// nginx runs with a generated configuration in a temporary directory, `daemon off`, on an
// ephemeral port, and is stopped at the end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/winapi.h"

extern char** environ;

namespace {

constexpr long long kFileBytes = 256LL * 1024 * 1024;  // the file served
constexpr DWORD kReadBuffer = 64 * 1024;               // WinHttpReadData's room
constexpr int kRounds = 7;             // alternating rounds; the median of the paired ratios counts
constexpr double kTimeGoal = 1.2;      // at most 1.2 times curl's time
constexpr double kMemoryGoalMiB = 16;  // the layer's peak under 16 MiB
constexpr auto kStartLimit = std::chrono::seconds(10);

using Clock = std::chrono::steady_clock;

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

pid_t Spawn(const std::vector<std::string>& args, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    int status = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return status == 0 ? pid : -1;
}

// nginx serving one big file from a temporary directory; stopped in the destructor.
class Nginx {
  public:
    Nginx() {
        char pattern[] = "/tmp/http-get-bench-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        directory = pattern;
        ::chmod(pattern, 0755);  // nginx's worker runs as another user
        std::filesystem::create_directories(directory + "/www");
        std::filesystem::create_directories(directory + "/temp");
        std::string file = directory + "/www/big.bin";
        {
            std::ofstream out(file, std::ios::binary);
            std::vector<char> block(1 << 20);
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = char(i * 31 + 7);
            for (long long written = 0; written < kFileBytes;
                 written += static_cast<long long>(block.size())) {
                out.write(block.data(), std::streamsize(block.size()));
            }
        }
        ::chmod((directory + "/www").c_str(), 0755);
        ::chmod(file.c_str(), 0644);
        port = FreePort();
        std::ofstream config(directory + "/nginx.conf");
        config << "daemon off;\nworker_processes 1;\npid " << directory << "/nginx.pid;\n"
               << "error_log " << directory << "/error.log;\n"
               << "events { worker_connections 64; }\n"
               << "http {\n  access_log off;\n  sendfile on;\n"
               << "  client_body_temp_path " << directory << "/temp;\n"
               << "  proxy_temp_path " << directory << "/temp;\n"
               << "  fastcgi_temp_path " << directory << "/temp;\n"
               << "  uwsgi_temp_path " << directory << "/temp;\n"
               << "  scgi_temp_path " << directory << "/temp;\n"
               << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << directory
               << "/www;\n  }\n}\n";
        config.close();
        pid = Spawn({"nginx", "-p", directory, "-e", directory + "/error.log", "-c",
                     directory + "/nginx.conf"},
                    true);
        auto deadline = Clock::now() + kStartLimit;
        while (pid > 0 && !Accepts(port)) {
            if (Clock::now() > deadline || ::waitpid(pid, nullptr, WNOHANG) != 0) {
                Stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Nginx() {
        Stop();
        if (!directory.empty()) std::filesystem::remove_all(directory);
    }
    bool Running() const { return pid > 0; }
    int Port() const { return port; }

  private:
    void Stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGQUIT);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string directory;
    int port = 0;
    pid_t pid = -1;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CurlSeconds(const std::string& url) {
    auto start = Clock::now();
    pid_t pid = Spawn({"curl", "-s", "-o", "/dev/null", url}, false);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return Seconds(Clock::now() - start);
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    }
    return 0;
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
        std::vector<char> buffer(kReadBuffer);
        total = 0;
        DWORD read = 0;
        while (WinHttpReadData(request, buffer.data(), kReadBuffer, &read) && read > 0) {
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
        long baseline = StatusKiB("VmRSS:");
        auto start = Clock::now();
        long long bytes = LayerGet(port);
        LayerRun run{Seconds(Clock::now() - start),
                     double(StatusKiB("VmHWM:") - baseline) / 1024.0};
        if (bytes != kFileBytes) run.seconds = -1;
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    Nginx nginx;
    if (!nginx.Running()) {
        std::fprintf(stderr, "http_get: nginx did not start\n");
        return 1;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/big.bin";
    CurlSeconds(url);  // warms the page cache
    std::vector<double> curlTimes, layerTimes, ratios;
    double peakMiB = 0;
    for (int round = 0; round < kRounds; ++round) {
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
    double mib = double(kFileBytes) / (1024 * 1024);
    double curlMedian = Median(curlTimes), layerMedian = Median(layerTimes);
    std::printf("curl -s -o /dev/null: median %.3f s (%.0f MiB/s)\n", curlMedian, mib / curlMedian);
    std::printf("WinHTTP layer:        median %.3f s (%.0f MiB/s)\n", layerMedian,
                mib / layerMedian);
    std::printf("figure http_get_vs_curl_cli %.2f ratio goal <=%.1f\n", Median(ratios), kTimeGoal);
    std::printf("figure http_get_layer_peak_memory_mib %.1f MiB goal <%.0f\n", peakMiB,
                kMemoryGoalMiB);
    return 0;
}
