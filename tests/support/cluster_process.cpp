#include "cluster_process.h"

#include <cstdlib>
#include <utility>

namespace servicetest {

ClusterProcess::ClusterProcess(std::string script, std::string service)
    : scriptPath(std::move(script)), servicePath(std::move(service)) {}

bool ClusterProcess::Start(int replicas, const std::vector<std::string>& serviceOptions) {
    std::vector<std::string> args{
        "--replicas", std::to_string(replicas), "--listen", "127.0.0.1:0", "--state-dir", State()};
    if (!serviceOptions.empty()) args.push_back("--");
    args.insert(args.end(), serviceOptions.begin(), serviceOptions.end());
    setenv("RECOGNITION_SERVICE", servicePath.c_str(), 1);
    return script.Start(scriptPath, args, State() + "/run-cluster.log");
}

std::string ClusterProcess::ScriptLog() const {
    return ReadFile(State() + "/run-cluster.log");
}

std::string ClusterProcess::ReplicaLog(int replica) const {
    return ReadFile(State() + "/cluster/replica-" + std::to_string(replica) + ".log");
}

int ClusterProcess::ReplicaPort(int replica) const {
    const std::string prefix = "listening on https://127.0.0.1:";
    std::string log = ReplicaLog(replica);
    size_t at = log.find(prefix);
    return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + prefix.size());
}

pid_t ClusterProcess::ReplicaPid(int replica) const {
    return std::atoi(
        ReadFile(State() + "/cluster/replica-" + std::to_string(replica) + ".pid").c_str());
}

std::string ClusterProcess::FrontAccessLog() const {
    return ReadFile(State() + "/cluster/access.log");
}

std::string ClusterProcess::FrontErrorLog() const {
    return ReadFile(State() + "/cluster/error.log");
}

}  // namespace servicetest
