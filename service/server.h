// The service's HTTPS server on Boost.Beast and Asio: one I/O thread per core, any number of
// connections up to the limits, recognition on the worker pool, a clean stop on SIGINT and
// SIGTERM.
#pragma once

#include <boost/asio/ssl/context.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "service/routes.h"
#include "service/worker_pool.h"

namespace service {

struct ServerLimits {
    long maxConnections = 1024;
    long maxPerAddress = 64;
};

class Server {
  public:
    Server(ServiceContext& context, boost::asio::ssl::context& tls, WorkerPool& workers,
           ServerLimits limits);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Makes the listening socket (the one place it is made); the port it listens on, or -1
    // with a message in error.
    int Listen(const std::string& host, int port, std::string& error);
    // Listens on a socket already listening (handed over by socket activation) instead; the
    // port, with its address in host, or -1 with a message in error.
    int Adopt(int listeningFd, std::string& host, std::string& error);
    // Before Run: stop as at SIGTERM once no connection has been open for this long.
    void StopWhenIdle(std::chrono::seconds idle);
    // Serves on ioThreads threads until SIGINT or SIGTERM, then stops accepting, closes idle
    // connections, lets requests in progress end for up to 5 s and returns.
    void Run(int ioThreads);

  private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace service
