#include "tests/support/spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

pid_t Spawn(const std::vector<std::string>& args, bool quiet, const std::string& output) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    bool ready = true;
    if (quiet) {
        ready = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY,
                                                 0) == 0 &&
                posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY,
                                                 0) == 0;
    }
    if (ready && !output.empty()) {
        ready = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC, 0600) == 0;
    }
    pid_t pid = -1;
    const bool started =
        ready && posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started ? pid : -1;
}

}  // namespace testsupport
