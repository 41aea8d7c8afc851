#include "service/socket_activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace service {
namespace {

// The first handed descriptor (SD_LISTEN_FDS_START in systemd's protocol).
constexpr int firstHandedFd = 3;

bool ParseCount(const char* text, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0;
}

}  // namespace

int HandedListeningSocket(std::string& error) {
    long pid = 0, count = 0;
    bool forUs = ParseCount(std::getenv("LISTEN_PID"), pid) && pid == long(getpid()) &&
                 ParseCount(std::getenv("LISTEN_FDS"), count);
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (!forUs || count == 0) return -1;
    if (count != 1) {
        error = "socket activation handed over " + std::to_string(count) +
                " sockets; the service takes exactly one";
        return -1;
    }
    int fd = firstHandedFd;
    int listening = 0, type = 0, domain = 0;
    socklen_t size = sizeof listening;
    bool ok = getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening;
    size = sizeof type;
    ok = ok && getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
    size = sizeof domain;
    ok = ok && getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 &&
         (domain == AF_INET || domain == AF_INET6);
    if (!ok) {
        error = "the socket handed over by socket activation is not a listening TCP socket";
        return -1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

}  // namespace service
