// A scriptable HTTP/1.1 test server on 127.0.0.1 for integration tests.
//
//   testsupport::TestServer server;                       // plain HTTP, ephemeral port
//   server.Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");   // same bytes for every
//   request server.Handle([](const testsupport::Request& request, testsupport::Connection& c) {
//       c.Write("HTTP/1.1 200 OK\r\n...");            // or any raw bytes, slowly, then c.Reset()
//   });
//   ... run the client against server.Url("/path") ...
//   server.Requests()[0].raw        // the exact bytes of the first request (head and body)
//   server.ConnectionCount()        // TCP connections accepted so far
//
// The server listens from construction to destruction (scope-exit teardown) and serves every
// connection in its own thread, keeping it alive for further requests until the client closes it
// or the script closes or resets it. With TestServer::Tls the connections speak TLS with the
// given certificate and key (PEM; see test_certs.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// One request as the server read it.
struct Request {
    std::string raw;     // head and body, byte for byte as received
    std::string head;    // request line and header lines, up to and including the empty line
    std::string body;    // the body bytes as received (chunk framing included, if chunked)
    std::string method;  // "GET", "POST", ...
    std::string target;  // the request target as sent, e.g. "/a?b=1"
    int connection = 0;  // 1-based number of the connection it came on

    // Value of the first header called `name` (case-insensitive), "" when absent.
    std::string Header(const std::string& name) const;
    // How many header lines of the head carry `name` (case-insensitive).
    int HeaderCount(const std::string& name) const;
};

// The connection a handler answers on. All calls are safe after the peer has gone.
class Connection {
  public:
    virtual ~Connection() = default;
    virtual bool Write(const std::string& bytes) = 0;
    // Waits, returning early when the server is stopping.
    virtual void Sleep(int milliseconds) = 0;
    // Waits until the server stops: a stalled answer.
    virtual void Stall() = 0;
    // Closes the connection after the handler returns (for close-delimited answers).
    virtual void Close() = 0;
    // Closes at once with a TCP reset (SO_LINGER 0).
    virtual void Reset() = 0;
};

using Handler = std::function<void(const Request& request, Connection& connection)>;

// "HTTP/1.1 <status>\r\n" + headers (each "Name: value\r\n") + Content-Length + body.
std::string Response(const std::string& status, const std::string& body = "",
                     const std::vector<std::string>& headers = {});

class TestServer {
  public:
    struct Tls {
        std::string certificatePem;
        std::string keyPem;
    };

    TestServer();
    explicit TestServer(const Tls& tls);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const;
    // "http://127.0.0.1:PORT" + path ("https://..." for a TLS server).
    std::string Url(const std::string& path = "/") const;
    // The same with another host name for the loopback address, e.g. "localhost".
    std::string UrlWithHost(const std::string& host, const std::string& path = "/") const;

    // Answers every request with these bytes (default: 200 with body "ok").
    void Reply(const std::string& raw);
    // Answers every request with the handler, called on the connection's thread.
    void Handle(Handler handler);

    std::vector<Request> Requests() const;
    int ConnectionCount() const;
    // Waits (up to `milliseconds`) until at least `count` requests have been recorded.
    bool WaitForRequests(size_t count, int milliseconds = 10000) const;

    struct State;  // the server's threads and records, in test_server.cpp

  private:
    std::shared_ptr<State> state;
};

}  // namespace testsupport
