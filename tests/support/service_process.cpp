#include "service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace servicetest {
namespace {

// Generous: the first start makes keys, and the machine may be busy.
constexpr int startTimeoutMs = 60000;
constexpr int stopTimeoutMs = 30000;

// Reads one line from fd, waiting at most until deadline.
bool ReadLine(int fd, std::string& line, std::chrono::steady_clock::time_point deadline) {
    line.clear();
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) return false;
        if (c == '\n') return true;
        line += c;
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "recognition-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}

ServiceProcess::~ServiceProcess() {
    Stop();
}

bool ServiceProcess::Start(const std::string& binary, const std::vector<std::string>& args,
                           const std::string& logFile) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // A test that dies leaves no service behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], 1);
        if (!logFile.empty()) {
            int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (log >= 0) dup2(log, 2);
        }
        close(out[0]);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(startTimeoutMs);
    std::string second;
    bool ok = ReadLine(out[0], firstLine, deadline) && ReadLine(out[0], second, deadline);
    close(out[0]);
    const std::string prefix = "certificate authority: ";
    size_t colon = firstLine.rfind(':');
    if (!ok || colon == std::string::npos || second.rfind(prefix, 0) != 0) {
        Stop(SIGKILL);
        return false;
    }
    port = std::atoi(firstLine.c_str() + colon + 1);
    authority = second.substr(prefix.size());
    return port > 0;
}

int ServiceProcess::Stop(int signal) {
    if (pid <= 0) return -1;
    kill(pid, signal);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stopTimeoutMs);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    pid = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace servicetest
