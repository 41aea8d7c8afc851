// Runs the real recognition-service binary on an ephemeral port for tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace servicetest {

// A temporary directory, removed with everything in it at the end of the scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }

  private:
    std::string path;
};

class ServiceProcess {
  public:
    ServiceProcess() = default;
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts binary with args; standard error goes to logFile. Waits for the two first
    // lines ("listening on ...", "certificate authority: ...") and takes the port and the
    // authority's path from them. False when the service did not start.
    bool Start(const std::string& binary, const std::vector<std::string>& args,
               const std::string& logFile);
    // Sends signal and waits for the exit; the exit status (or 128 + signal), -1 if none ran.
    int Stop(int signal = 15);

    int Port() const { return port; }
    pid_t Pid() const { return pid; }
    const std::string& Authority() const { return authority; }
    const std::string& FirstLine() const { return firstLine; }

  private:
    pid_t pid = -1;
    int port = 0;
    std::string authority;
    std::string firstLine;
};

// The whole content of a file, empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace servicetest
