// Runs scripts/run-cluster (replicas of the real service behind nginx) in a private temporary
// state directory for tests and benchmarks, and reads what it leaves there: the replicas'
// logs, ports and processes, the front's logs. Stopped with SIGTERM at the end of the scope.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "service_process.h"

namespace servicetest {

class ClusterProcess {
  public:
    // script: scripts/run-cluster; service: the recognition-service binary the replicas run.
    ClusterProcess(std::string script, std::string service);

    // Starts replicas behind a front on a free loopback port, with serviceOptions for every
    // replica; false when the script did not announce itself (see ScriptLog()).
    bool Start(int replicas, const std::vector<std::string>& serviceOptions = {});
    // Sends signal to the script and waits; its exit status (or 128 + signal).
    int Stop(int signal) { return script.Stop(signal); }

    const std::string& State() const { return directory.Path(); }
    int FrontPort() const { return script.Port(); }
    const std::string& Authority() const { return script.Authority(); }
    const std::string& FirstLine() const { return script.FirstLine(); }
    // The script's standard error.
    std::string ScriptLog() const;
    std::string ReplicaLog(int replica) const;
    // The port of the replica's first "listening on" line (restarts keep it); 0 if none.
    int ReplicaPort(int replica) const;
    // The replica's process now, from the script's pid file; 0 if none.
    pid_t ReplicaPid(int replica) const;
    std::string FrontAccessLog() const;
    std::string FrontErrorLog() const;

  private:
    std::string scriptPath, servicePath;
    TempDir directory;  // made 0700, as the service wants its state directory
    ServiceProcess script;
};

}  // namespace servicetest
