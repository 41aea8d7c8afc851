// Scriptable HTTP/1.1 test server: one accept thread, one thread per connection.
#include "tests/support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

// Longest request head the server accepts; far above anything a test sends.
constexpr size_t maxHeadBytes = 1 << 20;
// How long a TLS handshake or a blocked read may take before the connection is dropped.
constexpr int socketTimeoutSeconds = 30;

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string HeaderValue(const std::string& head, const std::string& name) {
    const std::string wanted = Lower(name);
    size_t lineStart = head.find("\r\n");
    while (lineStart != std::string::npos && lineStart + 2 < head.size()) {
        lineStart += 2;
        size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) break;
        std::string line = head.substr(lineStart, lineEnd - lineStart);
        size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(line.substr(0, colon)) == wanted) {
            size_t valueStart = line.find_first_not_of(" \t", colon + 1);
            return valueStart == std::string::npos ? "" : line.substr(valueStart);
        }
        lineStart = lineEnd;
    }
    return "";
}

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

SSL_CTX* MakeServerContext(const TestServer::Tls& tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) return nullptr;
    BIO* certBio = BIO_new_mem_buf(tls.certificatePem.data(), int(tls.certificatePem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(tls.keyPem.data(), int(tls.keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 &&
              SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

std::string Request::Header(const std::string& name) const {
    return HeaderValue(head, name);
}

int Request::HeaderCount(const std::string& name) const {
    const std::string lowerHead = Lower(head);
    const std::string key = "\r\n" + Lower(name) + ":";
    int count = 0;
    for (size_t at = lowerHead.find(key); at != std::string::npos; at = lowerHead.find(key, at + 1))
        ++count;
    return count;
}

std::string Response(const std::string& status, const std::string& body,
                     const std::vector<std::string>& headers) {
    std::string raw = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& header : headers)
        raw += header + "\r\n";
    raw += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    return raw + body;
}

struct TestServer::State {
    int listenFd = -1;
    int stopFd = -1;  // eventfd, readable once the server stops
    int port = 0;
    std::unique_ptr<SSL_CTX, SslCtxFree> sslContext;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Handler handler;
    std::vector<Request> requests;
    int connections = 0;
    std::vector<std::thread> threads;
    std::thread acceptor;

    void Accept();
    void Serve(int fd, int number);
    Handler CurrentHandler() {
        std::lock_guard lock(mutex);
        return handler;
    }
};

namespace {

// One accepted connection, plain or TLS, as the handler sees it.
class ServerConnection : public Connection {
  public:
    ServerConnection(TestServer::State& state, int fd, SSL* ssl) : state(state), fd(fd), ssl(ssl) {}
    ~ServerConnection() override { Shut(false); }

    bool Write(const std::string& bytes) override {
        size_t sent = 0;
        while (fd >= 0 && sent < bytes.size()) {
            long n = ssl ? SSL_write(ssl, bytes.data() + sent, int(bytes.size() - sent))
                         : ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += size_t(n);
        }
        return fd >= 0;
    }
    void Sleep(int milliseconds) override {
        std::unique_lock lock(state.mutex);
        state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return state.stopping.load(); });
    }
    void Stall() override {
        std::unique_lock lock(state.mutex);
        state.changed.wait(lock, [this] { return state.stopping.load(); });
    }
    void Close() override { closeRequested = true; }
    void Reset() override { Shut(true); }

    bool Open() const { return fd >= 0 && !closeRequested; }

    // Reads more bytes into `buffer`; false at the end, on error or when the server stops.
    bool ReadMore(std::string& buffer) {
        char chunk[16384];
        while (fd >= 0) {
            if (!ssl || SSL_pending(ssl) == 0) {
                pollfd fds[2] = {{fd, POLLIN, 0}, {state.stopFd, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) return false;
                if (fds[1].revents) return false;
            }
            long n = ssl ? SSL_read(ssl, chunk, sizeof chunk) : ::recv(fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffer.append(chunk, size_t(n));
                return true;
            }
            return false;
        }
        return false;
    }

  private:
    void Shut(bool reset) {
        if (fd < 0) return;
        if (reset) {
            linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        } else if (ssl) {
            SSL_shutdown(ssl);
        }
        if (ssl) SSL_free(ssl);
        ssl = nullptr;
        ::close(fd);
        fd = -1;
    }

    TestServer::State& state;
    int fd;
    SSL* ssl;
    bool closeRequested = false;
};

// Bytes of a chunked body at the front of `data`, framing included; 0 while incomplete.
size_t ChunkedLength(const std::string& data) {
    size_t pos = 0;
    for (;;) {
        size_t lineEnd = data.find("\r\n", pos);
        if (lineEnd == std::string::npos) return 0;
        size_t size = std::strtoul(data.substr(pos, lineEnd - pos).c_str(), nullptr, 16);
        pos = lineEnd + 2;
        if (size == 0) {
            size_t end = data.find("\r\n\r\n", pos - 2);
            return end == std::string::npos ? 0 : end + 4;
        }
        if (data.size() < pos + size + 2) return 0;
        pos += size + 2;
    }
}

}  // namespace

void TestServer::State::Accept() {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
        int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0) continue;
        timeval timeout{socketTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::lock_guard lock(mutex);
        int number = ++connections;
        threads.emplace_back([this, fd, number] { Serve(fd, number); });
    }
}

void TestServer::State::Serve(int fd, int number) {
    SSL* ssl = nullptr;
    if (sslContext) {
        ssl = SSL_new(sslContext.get());
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            ::close(fd);
            return;
        }
    }
    ServerConnection connection(*this, fd, ssl);
    std::string buffer;
    while (connection.Open()) {
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > maxHeadBytes || !connection.ReadMore(buffer)) return;
        }
        Request request;
        request.connection = number;
        request.head = buffer.substr(0, headEnd + 4);
        buffer.erase(0, headEnd + 4);
        size_t space = request.head.find(' ');
        size_t space2 = request.head.find(' ', space + 1);
        request.method = request.head.substr(0, space);
        request.target = request.head.substr(space + 1, space2 - space - 1);
        if (Lower(HeaderValue(request.head, "Transfer-Encoding")) == "chunked") {
            size_t length;
            while ((length = ChunkedLength(buffer)) == 0) {
                if (!connection.ReadMore(buffer)) return;
            }
            request.body = buffer.substr(0, length);
        } else {
            size_t length =
                std::strtoul(HeaderValue(request.head, "Content-Length").c_str(), nullptr, 10);
            while (buffer.size() < length) {
                if (!connection.ReadMore(buffer)) return;
            }
            request.body = buffer.substr(0, length);
        }
        buffer.erase(0, request.body.size());
        request.raw = request.head + request.body;
        {
            std::lock_guard lock(mutex);
            requests.push_back(request);
        }
        changed.notify_all();
        Handler current = CurrentHandler();
        current(request, connection);
        if (Lower(request.Header("Connection")) == "close") connection.Close();
    }
}

TestServer::TestServer() : TestServer(Tls{}) {}

TestServer::TestServer(const Tls& tls) : state(std::make_shared<State>()) {
    std::signal(SIGPIPE, SIG_IGN);
    if (!tls.certificatePem.empty()) {
        state->sslContext.reset(MakeServerContext(tls));
        if (!state->sslContext) throw std::runtime_error("test server: bad certificate or key");
    }
    state->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (state->listenFd < 0 ||
        ::bind(state->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state->listenFd, 64) != 0 ||
        ::getsockname(state->listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    state->port = ntohs(address.sin_port);
    state->stopFd = ::eventfd(0, EFD_CLOEXEC);
    Reply(Response("200 OK", "ok"));
    State* raw = state.get();
    state->acceptor = std::thread([raw] { raw->Accept(); });
}

TestServer::~TestServer() {
    state->stopping = true;
    {
        std::lock_guard lock(state->mutex);  // wakes sleepers that test `stopping`
    }
    state->changed.notify_all();
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(state->stopFd, &one, sizeof one);
    state->acceptor.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(state->mutex);
        threads.swap(state->threads);
    }
    for (std::thread& thread : threads)
        thread.join();
    ::close(state->listenFd);
    ::close(state->stopFd);
}

int TestServer::Port() const {
    return state->port;
}

std::string TestServer::Url(const std::string& path) const {
    return UrlWithHost("127.0.0.1", path);
}

std::string TestServer::UrlWithHost(const std::string& host, const std::string& path) const {
    return std::string(state->sslContext ? "https" : "http") + "://" + host + ":" +
           std::to_string(state->port) + path;
}

void TestServer::Reply(const std::string& raw) {
    Handle([raw](const Request&, Connection& connection) { connection.Write(raw); });
}

void TestServer::Handle(Handler handler) {
    std::lock_guard lock(state->mutex);
    state->handler = std::move(handler);
}

std::vector<Request> TestServer::Requests() const {
    std::lock_guard lock(state->mutex);
    return state->requests;
}

int TestServer::ConnectionCount() const {
    std::lock_guard lock(state->mutex);
    return state->connections;
}

bool TestServer::WaitForRequests(size_t count, int milliseconds) const {
    std::unique_lock lock(state->mutex);
    return state->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [&] { return state->requests.size() >= count; });
}

}  // namespace testsupport
