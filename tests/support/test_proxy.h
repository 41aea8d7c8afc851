// Debian's tinyproxy on 127.0.0.1, started with a generated configuration for one test.
//
//   testsupport::TinyProxy proxy("user", "secret");   // BasicAuth; empty user: no auth
//   if (!proxy.Running()) GTEST_SKIP() << "tinyproxy not installed";
//   ... WINHTTP_PROXY_INFO with "127.0.0.1:" + std::to_string(proxy.Port()) ...
//
// The proxy allows 127.0.0.1, CONNECT to any port, and stops (SIGTERM, then SIGKILL) in the
// destructor; its configuration lives in a temporary directory removed with it.
#pragma once

#include <sys/types.h>
#include <string>

namespace testsupport {

// A free TCP port on 127.0.0.1 at the time of the call.
int FreePort();

// Whether something accepts connections on 127.0.0.1:port.
bool Accepts(int port);

class TinyProxy {
  public:
    TinyProxy(const std::string& user = "", const std::string& password = "");
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    bool Running() const { return pid > 0; }
    int Port() const { return port; }
    // "127.0.0.1:PORT", the form WINHTTP_PROXY_INFO takes.
    std::string Address() const { return "127.0.0.1:" + std::to_string(port); }

  private:
    pid_t pid = -1;
    int port = 0;
    std::string directory;
};

}  // namespace testsupport
