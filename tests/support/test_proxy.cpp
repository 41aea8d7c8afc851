// Starts and stops tinyproxy for a test.
#include "tests/support/test_proxy.h"

#include "tests/support/spawn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

// How long tinyproxy may take to listen, and to exit after SIGTERM.
constexpr auto startLimit = std::chrono::seconds(10);
constexpr auto stopLimit = std::chrono::seconds(5);

std::string FindTinyproxy() {
    for (const char* path : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return "";
}

}  // namespace

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

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    std::string binary = FindTinyproxy();
    if (binary.empty()) return;
    char pattern[] = "/tmp/tinyproxy-test-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    directory = pattern;
    ::chmod(pattern, 0755);  // tinyproxy drops to "nobody" and must still read its config
    port = FreePort();
    std::string config = directory + "/tinyproxy.conf";
    {
        std::ofstream file(config);
        file << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\n"
             << "MaxClients 50\nLogLevel Critical\nDisableViaHeader Yes\n";
        if (::geteuid() == 0) file << "User nobody\nGroup nogroup\n";
        if (!user.empty()) file << "BasicAuth " << user << " " << password << "\n";
    }
    ::chmod(config.c_str(), 0644);
    pid_t child = Spawn({binary, "-d", "-c", config}, true);
    if (child < 0) return;
    pid = child;
    auto deadline = std::chrono::steady_clock::now() + startLimit;
    while (!Accepts(port)) {
        if (std::chrono::steady_clock::now() > deadline || ::waitpid(pid, nullptr, WNOHANG) != 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TinyProxy::~TinyProxy() {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + stopLimit;
        while (::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
}

}  // namespace testsupport
