// Runs the local recognition service on an ephemeral port for one test, and stops it.
#pragma once

#include <sys/types.h>
#include <string>

class ServiceProcess {
  public:
    // Starts `program --listen 127.0.0.1:0 --state-dir stateDir` and waits for its two
    // announcement lines; Started() tells whether they came.
    ServiceProcess(const std::string& program, const std::string& stateDir);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Started() const { return !hostPort_.empty() && !authority_.empty(); }
    // "127.0.0.1:PORT", as RECOGNIZER_HOST takes it.
    const std::string& HostPort() const { return hostPort_; }
    // The PEM file of the certificate authority that signed the service's certificate.
    const std::string& Authority() const { return authority_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string hostPort_;
    std::string authority_;
};
