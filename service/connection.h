// One client connection of the HTTPS server: TLS handshake, then requests read, answered
// and written in order, each phase under its own deadline. Shared between the server's
// files only.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "service/errors.h"
#include "service/request_head.h"
#include "service/routes.h"
#include "service/worker_pool.h"

namespace service::detail {

class Connection;

// What a connection needs of the server that accepted it.
class ConnectionHost {
  public:
    virtual ServiceContext& Context() = 0;
    virtual WorkerPool& Workers() = 0;
    // The connection is gone: its place under the limits is free again.
    virtual void Closed(Connection* connection, const boost::asio::ip::address& peer) = 0;

  protected:
    ~ConnectionHost() = default;
};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
               ConnectionHost& host, boost::asio::ip::address peer);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Start();
    // From any thread: an idle connection closes at once, a busy one after its answer.
    void Stop();
    // From any thread: closes now, whatever the connection is doing.
    void Abort();

  private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Handshake, Idle, Head, Body, Working, Writing, Closing };

    void ReadHead();
    void OnHead(size_t length);
    void ReadBody();
    void Dispatch();
    void Refuse(const ServiceError& error);
    void Write(Response answer);
    void Shutdown();
    void Linger();
    void Close();

    boost::beast::ssl_stream<boost::beast::tcp_stream> stream;
    ConnectionHost& host;
    boost::asio::ip::address peer;
    boost::beast::flat_buffer buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser;
    boost::beast::http::response<boost::beast::http::string_body> response;
    Phase phase = Phase::Handshake;
    bool stopping = false;
    bool closed = false;
    // The request in progress.
    size_t scanned = 0;  // bytes of the buffer searched for the head's end
    Clock::time_point headStart;
    Clock::time_point bodyStart;
    unsigned long long bodyBytes = 0;
    std::string method;
    std::string target;
    unsigned version = 11;
    bool keepAlive = true;
    bool headRequest = false;
    bool linger = false;  // after a refusal: what the client still sends is read and dropped
    Clock::time_point lingerEnd;
};

}  // namespace service::detail
