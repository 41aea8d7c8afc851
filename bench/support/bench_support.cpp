#include "bench/support/bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/spawn.h"
#include "tests/support/test_proxy.h"

extern char** environ;

namespace bench {

namespace {

constexpr auto nginxStartLimit = std::chrono::seconds(15);  // a loaded machine starts it late
constexpr auto nginxPoll = std::chrono::milliseconds(20);

}  // namespace

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::strtol(line.c_str() + n + 1, nullptr, 10);
    }
    return -1;
}

Nginx::Nginx(const std::string& name) {
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    directory = pattern;
    ::chmod(directory.c_str(), 0755);  // nginx's worker runs as another user
    std::filesystem::create_directories(directory + "/www");
    std::filesystem::create_directories(directory + "/temp");
    ::chmod((directory + "/www").c_str(), 0755);
}

Nginx::~Nginx() {
    Stop();
    if (!directory.empty()) std::filesystem::remove_all(directory);
}

bool Nginx::Start(const std::string& serverLines, const NginxSettings& settings) {
    if (directory.empty() || pid > 0) return false;
    // The worker runs as another user: what the caller put in www must be readable by anyone.
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root(), error)) {
        std::filesystem::permissions(
            entry.path(),
            entry.is_directory() ? std::filesystem::perms(0755) : std::filesystem::perms(0644),
            error);
    }
    port = testsupport::FreePort();
    const std::string& d = directory;
    std::ofstream config(d + "/nginx.conf");
    config << "daemon off;\nworker_processes " << settings.workers << ";\npid " << d
           << "/nginx.pid;\n"
           << "error_log " << d << "/error.log;\n"
           << "worker_rlimit_nofile " << settings.connections * 2 + 64 << ";\n"
           << "events { worker_connections " << settings.connections << "; }\n"
           << "http {\n  access_log off;\n  default_type application/octet-stream;\n"
           << "  sendfile on;\n"
           << "  client_body_temp_path " << d << "/temp;\n"
           << "  proxy_temp_path " << d << "/temp;\n"
           << "  fastcgi_temp_path " << d << "/temp;\n"
           << "  uwsgi_temp_path " << d << "/temp;\n"
           << "  scgi_temp_path " << d << "/temp;\n"
           << "  server {\n    listen 127.0.0.1:" << port << " " << settings.listenOptions
           << ";\n    root " << d << "/www;\n"
           << serverLines << "  }\n}\n";
    config.close();
    if (!config) return false;
    pid = testsupport::Spawn({"nginx", "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf"},
                             true);
    const auto deadline = std::chrono::steady_clock::now() + nginxStartLimit;
    while (pid > 0 && !testsupport::Accepts(port)) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0) {
            pid = -1;  // it exited: see error.log
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            return false;
        }
        std::this_thread::sleep_for(nginxPoll);
    }
    return pid > 0;
}

void Nginx::Stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGQUIT);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

}  // namespace bench
