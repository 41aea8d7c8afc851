#include "service/state_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace service {
namespace {

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

}  // namespace

bool PrepareStateDir(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::path path(dir);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the state directory " + dir + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "the state directory " + dir + " is not a directory";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = "the state directory " + dir + " belongs to another user";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = "the state directory " + dir + " is open to other users (mode " +
                Mode(info.st_mode) + "); make it private (chmod 700 " + dir + ") or choose another";
        return false;
    }
    return true;
}

bool CheckPrivateFile(int fd, const std::string& path, std::string& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = path + " belongs to another user";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = path + " can be read by other users (mode " + Mode(info.st_mode) +
                "); make it private (chmod 600 " + path + ")";
        return false;
    }
    return true;
}

bool CheckPrivateFileIfPresent(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = CheckPrivateFile(fd, path, error);
    ::close(fd);
    return ok;
}

}  // namespace service
