#include "service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

// The service makes its certificates on first start; a loaded machine may take a while.
constexpr auto kStartTimeout = std::chrono::seconds(60);

// Reads one line from fd, waiting until the deadline; empty when none came.
std::string ReadLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) return {};
        if (c == '\n') return line;
        line.push_back(c);
    }
    return {};
}

std::string After(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

}  // namespace

ServiceProcess::ServiceProcess(const std::string& program, const std::string& stateDir) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        // The service ends with the test, also when the test dies without cleaning up.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1:0", "--state-dir",
              stateDir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    output_ = pipeFds[0];
    if (pid_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    const std::string url = After(ReadLine(output_, deadline), "listening on https://");
    authority_ = After(ReadLine(output_, deadline), "certificate authority: ");
    hostPort_ = url;
    if (!hostPort_.empty() && hostPort_.back() == '/') hostPort_.pop_back();
    // Whatever the service writes later is read and dropped, so that it never blocks on a full
    // pipe; the reader ends when the service closes its output.
    std::thread([fd = output_] {
        char buffer[4096];
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
        close(fd);
    }).detach();
    output_ = -1;
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
}
