// What the load and abuse tests send the service: a raw HTTPS client that can misbehave at
// will (OpenSSL on a plain socket, no certificate check: the tests talk to their own service
// on loopback), the requests, and pictures made with zlib.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace loadtest {

// Generous: a loaded CI machine may take long for one answer, never this long.
constexpr int socketTimeoutSeconds = 120;

struct Reply {
    int status = 0;  // 0: no answer
    std::string head;
    std::string body;
};

class Tls {
  public:
    Tls();
    ~Tls();
    Tls(const Tls&) = delete;
    Tls& operator=(const Tls&) = delete;
    SSL_CTX* Get() const { return context; }

  private:
    SSL_CTX* context;
};

// A TCP connection to 127.0.0.1:port from the loopback address source (other loopback
// addresses count as other clients), with send and receive time-outs; -1 on failure.
int Connect(int port, const char* source = "127.0.0.1", int timeoutSeconds = socketTimeoutSeconds);

// One TLS connection, kept open for as long as the test needs.
class TlsConnection {
  public:
    TlsConnection(const Tls& tls, int port, const char* source = "127.0.0.1",
                  int timeoutSeconds = socketTimeoutSeconds);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // True when the handshake succeeded.
    bool Ok() const { return ssl != nullptr; }
    bool Send(const std::string& bytes);
    // Reads until the answer to one request is in (head and Content-Length body).
    Reply ReadReply();
    // Reads until the service closes the connection or the time-out ends; all it sent.
    std::string ReadToEnd();
    // Says it has sent all it will (TLS close_notify).
    void CloseSending();

  private:
    int fd = -1;
    SSL* ssl = nullptr;
    std::string pending;
};

// The answers in raw, one after the other.
std::vector<Reply> ParseReplies(const std::string& raw);

// Sends request (only its first `send` bytes, then close_notify, when send is given) on a
// connection of its own and reads the answer until the service closes the connection.
Reply Exchange(const Tls& tls, int port, const std::string& request,
               size_t send = std::string::npos);

// A form POST with "Connection: close".
std::string Post(const std::string& target, const std::string& body,
                 const std::string& extraHeaders = "");

// The token endpoint's target with the built-in credentials.
std::string TokenTarget();
// The same request's parameters as a form body.
std::string TokenBody();
// The access token of a token answer, empty when there is none.
std::string Token(const Reply& reply);
// The service's JSON error code in a reply, -1 when it is not an error JSON.
int ErrorCode(const Reply& reply);
// A header's value in a reply's head, empty when absent.
std::string HeaderValue(const Reply& reply, const std::string& name);

// A grey PNG of the given size. Its rows are all zero, so a large one is tiny on the wire and
// huge once decoded; declaredWidth/Height, when given, are what the header claims instead.
std::string GreyPng(uint32_t width, uint32_t height, uint32_t declaredWidth = 0,
                    uint32_t declaredHeight = 0);
std::string Base64(const std::string& bytes);
// Every byte but letters and digits as %XX.
std::string FormValue(const std::string& text);

}  // namespace loadtest
