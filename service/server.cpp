#include "service/server.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <chrono>
#include <csignal>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/connection.h"
#include "service/request_log.h"

namespace service {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

// Requests in progress at a stop get this long to end.
constexpr std::chrono::seconds stopGrace{5};
// After a failed accept (out of descriptors, say), the next one waits this long.
constexpr std::chrono::milliseconds acceptPauseTime{100};
// Refused connections are counted in the log at most once per this time.
constexpr std::chrono::seconds refusedLogPeriod{1};

// Open files the connections need: one each, and a margin for the process's own.
void RaiseDescriptorLimit(long connections) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    rlim_t wanted = static_cast<rlim_t>(connections) + 64;
    if (limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

class Server::Impl : public detail::ConnectionHost {
  public:
    Impl(ServiceContext& context, asio::ssl::context& tls, WorkerPool& workers, ServerLimits limits)
        : context(context),
          tls(tls),
          workers(workers),
          limits(limits),
          control(asio::make_strand(io)),
          acceptor(control),
          signals(control, SIGINT, SIGTERM),
          acceptPause(control),
          stopTimer(control),
          idleTimer(control) {}

    ServiceContext& Context() override { return context; }
    WorkerPool& Workers() override { return workers; }
    void Closed(detail::Connection* connection, const asio::ip::address& peer) override;

    int Listen(const std::string& host, int port, std::string& error);
    int Adopt(int listeningFd, std::string& host, std::string& error);
    void StopWhenIdle(std::chrono::seconds idle) { idleLimit = idle; }
    void Run(int ioThreads);

  private:
    void Accept();
    void OnAccept(const ErrorCode& ec, tcp::socket socket);
    bool Admit(const asio::ip::address& peer);
    void CountRefused(bool flush);
    int Listening(std::string& error);
    void WatchIdle();
    void BeginStop();
    void RunLoop();

    ServiceContext& context;
    asio::ssl::context& tls;
    WorkerPool& workers;
    ServerLimits limits;
    // Connections tell of their end from their destructor, which may run as the I/O context
    // goes: what they touch is made before it and outlives it.
    std::mutex mutex;  // guards what follows
    std::unordered_map<detail::Connection*, std::weak_ptr<detail::Connection>> open;
    std::map<asio::ip::address, long> perAddress;
    bool draining = false;

    asio::io_context io;
    // The acceptor, the signals and the stop run on this strand, one at a time.
    asio::strand<asio::io_context::executor_type> control;
    tcp::acceptor acceptor;
    asio::signal_set signals;
    asio::steady_timer acceptPause;
    asio::steady_timer stopTimer;
    asio::steady_timer idleTimer;
    std::chrono::seconds idleLimit{0};  // 0: never stop for idleness
    bool stopping = false;              // on the control strand
    long refusedSinceLog = 0;
    std::chrono::steady_clock::time_point lastRefusedLog;
};

int Server::Impl::Listen(const std::string& host, int port, std::string& error) {
    ErrorCode ec;
    tcp::resolver resolver(io);
    auto found = resolver.resolve(host, std::to_string(port),
                                  tcp::resolver::numeric_service | tcp::resolver::passive, ec);
    if (ec || found.empty()) {
        error = "cannot resolve " + host;
        return -1;
    }
    tcp::endpoint endpoint = found.begin()->endpoint();
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + UrlAuthority(host, port) + ": " + ec.message();
        return -1;
    }
    return Listening(error);
}

int Server::Impl::Adopt(int listeningFd, std::string& host, std::string& error) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(listeningFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = "the handed socket has no address";
        return -1;
    }
    ErrorCode ec;
    acceptor.assign(address.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), listeningFd, ec);
    if (ec) {
        error = "cannot take the handed socket: " + ec.message();
        return -1;
    }
    int port = Listening(error);
    if (port > 0) host = acceptor.local_endpoint(ec).address().to_string();
    return port;
}

// What every listening socket gets, however it was made: room for its connections.
int Server::Impl::Listening(std::string& error) {
    RaiseDescriptorLimit(limits.maxConnections);
    ErrorCode ec;
    tcp::endpoint local = acceptor.local_endpoint(ec);
    if (ec) {
        error = "the listening socket has no address: " + ec.message();
        return -1;
    }
    return local.port();
}

// On the control strand: with no connection open, the idle time starts (again); a
// connection accepted meanwhile cancels it.
void Server::Impl::WatchIdle() {
    if (idleLimit.count() == 0 || stopping) return;
    {
        std::lock_guard lock(mutex);
        if (!open.empty()) return;
    }
    idleTimer.expires_after(idleLimit);
    idleTimer.async_wait([this](const ErrorCode& ec) {
        if (ec || stopping) return;
        {
            std::lock_guard lock(mutex);
            if (!open.empty()) return;
        }
        LogEvent("idle for " + std::to_string(idleLimit.count()) + " s");
        BeginStop();
    });
}

void Server::Impl::Run(int ioThreads) {
    signals.async_wait([this](const ErrorCode& ec, int) {
        if (!ec) BeginStop();
    });
    asio::post(control, [this] {
        WatchIdle();
        Accept();
    });
    std::vector<std::thread> threads;
    for (int i = 1; i < ioThreads; ++i)
        threads.emplace_back([this] { RunLoop(); });
    RunLoop();
    for (std::thread& thread : threads)
        thread.join();
}

// A handler that throws (out of memory, say) costs its connection, not the thread.
void Server::Impl::RunLoop() {
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception& e) {
            LogEvent(std::string("error: ") + e.what());
        }
    }
}

void Server::Impl::Accept() {
    if (stopping) return;
    acceptor.async_accept(asio::make_strand(io),
                          asio::bind_executor(control, [this](const ErrorCode& ec, tcp::socket s) {
                              OnAccept(ec, std::move(s));
                          }));
}

void Server::Impl::OnAccept(const ErrorCode& ec, tcp::socket socket) {
    if (stopping) return;
    if (ec) {
        // Out of descriptors or memory: pause, or the loop would spin on the same error.
        LogEvent("accept failed: " + ec.message());
        acceptPause.expires_after(acceptPauseTime);
        acceptPause.async_wait([this](const ErrorCode&) { Accept(); });
        return;
    }
    ErrorCode endpointError;
    tcp::endpoint remote = socket.remote_endpoint(endpointError);
    if (endpointError) return Accept();
    if (!Admit(remote.address())) {
        ErrorCode ignored;
        socket.close(ignored);
        ++refusedSinceLog;
        CountRefused(false);
        return Accept();
    }
    ErrorCode ignored;
    socket.set_option(tcp::no_delay(true), ignored);  // answers leave at once, no Nagle wait
    auto connection =
        std::make_shared<detail::Connection>(std::move(socket), tls, *this, remote.address());
    {
        std::lock_guard lock(mutex);
        open.emplace(connection.get(), connection);
    }
    idleTimer.cancel();
    connection->Start();
    Accept();
}

bool Server::Impl::Admit(const asio::ip::address& peer) {
    std::lock_guard lock(mutex);
    if (long(open.size()) >= limits.maxConnections) return false;
    long& fromPeer = perAddress[peer];
    if (fromPeer >= limits.maxPerAddress) return false;
    ++fromPeer;
    return true;
}

void Server::Impl::CountRefused(bool flush) {
    auto now = std::chrono::steady_clock::now();
    if (refusedSinceLog == 0 || (!flush && now - lastRefusedLog < refusedLogPeriod)) return;
    LogEvent("refused " + std::to_string(refusedSinceLog) + " connection(s) over the limits (" +
             std::to_string(limits.maxConnections) + " in all, " +
             std::to_string(limits.maxPerAddress) + " from one address)");
    refusedSinceLog = 0;
    lastRefusedLog = now;
}

void Server::Impl::Closed(detail::Connection* connection, const asio::ip::address& peer) {
    std::lock_guard lock(mutex);
    open.erase(connection);
    auto found = perAddress.find(peer);
    if (found != perAddress.end() && --found->second <= 0) perAddress.erase(found);
    if (draining && open.empty()) {
        asio::post(control, [this] { stopTimer.cancel(); });
    }
    // With no connection left, the heap gives what the last ones used back to the system: a
    // flood of connections leaves nothing resident behind.
    if (open.empty()) {
        asio::post(control, [this] {
            malloc_trim(0);
            WatchIdle();
        });
    }
}

void Server::Impl::BeginStop() {
    stopping = true;
    ErrorCode ignored;
    acceptor.close(ignored);
    acceptPause.cancel();
    idleTimer.cancel();
    signals.cancel(ignored);  // a stop for idleness leaves the wait for signals behind
    CountRefused(true);
    LogEvent("stopping");
    std::vector<std::shared_ptr<detail::Connection>> connections;
    {
        std::lock_guard lock(mutex);
        draining = true;
        for (auto& [pointer, weak] : open) {
            if (auto connection = weak.lock()) connections.push_back(connection);
        }
        if (open.empty()) return;
    }
    for (auto& connection : connections)
        connection->Stop();
    stopTimer.expires_after(stopGrace);
    stopTimer.async_wait([this](const ErrorCode&) {
        std::vector<std::shared_ptr<detail::Connection>> left;
        {
            std::lock_guard lock(mutex);
            for (auto& [pointer, weak] : open) {
                if (auto connection = weak.lock()) left.push_back(connection);
            }
        }
        for (auto& connection : left)
            connection->Abort();
    });
}

Server::Server(ServiceContext& context, asio::ssl::context& tls, WorkerPool& workers,
               ServerLimits limits)
    : impl(std::make_unique<Impl>(context, tls, workers, limits)) {}

Server::~Server() = default;

int Server::Listen(const std::string& host, int port, std::string& error) {
    return impl->Listen(host, port, error);
}

int Server::Adopt(int listeningFd, std::string& host, std::string& error) {
    return impl->Adopt(listeningFd, host, error);
}

void Server::StopWhenIdle(std::chrono::seconds idle) {
    impl->StopWhenIdle(idle);
}

void Server::Run(int ioThreads) {
    impl->Run(ioThreads);
}

}  // namespace service
