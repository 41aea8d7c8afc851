// Helpers the benchmark programs share: an nginx on loopback, the median of a series, and
// fields of /proc/self/status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

// The middle value of a non-empty series (the upper middle one for an even count).
double Median(std::vector<double> values);

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM", without the colon), or -1.
long StatusKiB(const char* field);

// How nginx runs beyond its defaults (one worker, 64 connections, plain HTTP).
struct NginxSettings {
    std::string listenOptions;  // after the address on the listen line ("ssl", say)
    int workers = 1;
    int connections = 64;  // worker_connections
};

// nginx in the foreground (`daemon off;`) on an ephemeral loopback port, with its whole state in
// a temporary directory of its own: the caller puts the files to serve in `Root()`, then starts
// it with the lines its server block needs beyond `listen` and `root` (locations, say). Stopped,
// and the directory removed, in the destructor.
class Nginx {
  public:
    // `name` starts the temporary directory's name.
    explicit Nginx(const std::string& name);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    // The temporary directory; empty when it could not be made.
    const std::string& Directory() const { return directory; }
    // Where the served files go: Directory() + "/www".
    std::string Root() const { return directory + "/www"; }
    // Writes the configuration and waits until nginx accepts connections; false if it does not.
    bool Start(const std::string& serverLines = "", const NginxSettings& settings = {});
    // The master process; its workers are its children.
    pid_t Pid() const { return pid; }
    bool Running() const { return pid > 0; }
    int Port() const { return port; }

  private:
    void Stop();
    std::string directory;
    int port = 0;
    pid_t pid = -1;
};

}  // namespace bench
