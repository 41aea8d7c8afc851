// Starting a helper program (nginx, tinyproxy, curl, base64) for tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// Starts args[0] (looked up on PATH unless it holds a "/") with `args`. With `quiet` its
// standard output and error go to /dev/null; with an `output` path its standard output goes to
// that file, created or emptied. The child's pid, or -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& args, bool quiet, const std::string& output = "");

}  // namespace testsupport
