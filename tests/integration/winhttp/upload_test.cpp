// The request body is read from the caller's buffer, which WinHTTP's contract keeps valid only
// until the request completes: once WinHttpReceiveResponse has returned, the layer must never
// touch it again, even when the server answered before taking the whole body.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "tests/integration/winhttp/client.h"

namespace {

using namespace testclient;

// A server of one connection that answers as soon as the request's head is in, then reads and
// drops whatever else comes (so the client could go on sending) until the client closes.
class EarlyAnswerServer {
  public:
    explicit EarlyAnswerServer(std::string answer) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port = ntohs(address.sin_port);
        thread = std::thread([this, answer] { Serve(answer); });
    }
    ~EarlyAnswerServer() {
        shutdown(listener, SHUT_RDWR);
        if (thread.joinable()) thread.join();
        close(listener);
    }
    int Port() const { return port; }

  private:
    void Serve(const std::string& answer) {
        int connection = accept(listener, nullptr, nullptr);
        if (connection < 0) return;
        std::string head;
        char byte;
        while (head.find("\r\n\r\n") == std::string::npos && read(connection, &byte, 1) == 1)
            head += byte;
        if (write(connection, answer.data(), answer.size()) >= 0) {
            timeval limit{10, 0};  // far beyond the test's time, short of its time-out
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            char dropped[65536];
            while (read(connection, dropped, sizeof dropped) > 0) {
            }
        }
        close(connection);
    }

    int listener = -1;
    int port = 0;
    std::thread thread;
};

// Pages of memory the test can take away from the process.
class Pages {
  public:
    explicit Pages(size_t size) : size(size) {
        void* mapped =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        data = mapped == MAP_FAILED ? nullptr : static_cast<char*>(mapped);
    }
    ~Pages() {
        if (data) munmap(data, size);
    }
    // Any later read of the pages kills the process.
    bool Forbid() { return mprotect(data, size, PROT_NONE) == 0; }

    char* data;
    const size_t size;
};

TEST(WinHttpUpload, BodyIsNotReadAfterAnEarlyAnswer) {
    constexpr size_t bodyBytes = 64 * 1024 * 1024;  // far more than the socket buffers hold
    Pages body(bodyBytes);
    ASSERT_NE(body.data, nullptr);
    std::memset(body.data, 'b', bodyBytes);
    EarlyAnswerServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"
        "hello");
    ASSERT_NE(server.Port(), 0);

    Internet session = OpenSession();
    Internet connection(
        WinHttpConnect(session.get(), u"127.0.0.1", INTERNET_PORT(server.Port()), 0));
    Internet request(
        WinHttpOpenRequest(connection.get(), u"POST", u"/upload", nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(request);
    ASSERT_TRUE(WinHttpSendRequest(request.get(), nullptr, 0, body.data, DWORD(bodyBytes),
                                   DWORD(bodyBytes), 0));
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    ASSERT_TRUE(body.Forbid());  // the caller may free the body now

    std::string answer;
    char buffer[64];
    DWORD read = 0;
    while (WinHttpReadData(request.get(), buffer, sizeof buffer, &read) && read > 0)
        answer.append(buffer, read);
    EXPECT_EQ(answer, "hello");
}

}  // namespace
