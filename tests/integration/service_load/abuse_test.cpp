// The local recognition service against one unfriendly client at a time, driven from outside
// with raw TLS connections and `openssl s_client`: request smuggling shapes and oversized
// heads, pipelining, slow and idle clients, the connection limits, a full recognition queue,
// the TLS floor under a permissive OpenSSL configuration, and a clean stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/service_load/client.h"
#include "tests/support/service_process.h"

namespace {

using namespace loadtest;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// A service of its own for one test, with extra options.
struct Service {
    servicetest::TempDir dir;
    servicetest::ServiceProcess process;
    bool started = false;
    explicit Service(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir",
                                         dir.Path() + "/state"};
        args.insert(args.end(), extra.begin(), extra.end());
        started = process.Start(RECOGNITION_SERVICE_BINARY, args, Log());
    }
    std::string Log() const { return dir.Path() + "/service.log"; }
    int Port() const { return process.Port(); }
};

class ServiceAbuse : public ::testing::Test {
  protected:
    // The service closes connections while a client may still be writing: that write must
    // fail with EPIPE, not end the test process.
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
    Tls tls;
};

// A request every client may send after a bad one on the same connection: it must never be
// answered, since the service closes the connection after a malformed request.
const std::string followUp =
    "POST " + TokenTarget() + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";

std::string Head(const std::string& target, const std::string& fields) {
    return "POST " + target + " HTTP/1.1\r\n" + fields + "\r\n";
}

TEST_F(ServiceAbuse, MalformedAndOversizedRequestsAreRefusedAndTheConnectionClosed) {
    Service service;
    ASSERT_TRUE(service.started);
    const std::string token = TokenTarget();
    // A request hidden in a body, to be taken as a second request by a lenient parser.
    const std::string inner = "POST /rest/2.0/nothing HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string manyFields, floodLines;
    for (int i = 0; i < 101; ++i)
        manyFields += "X-" + std::to_string(i) + ": 1\r\n";
    while (floodLines.size() < 1000000)
        floodLines += "X-Flood: " + std::string(40, 'f') + "\r\n";
    struct {
        const char* name;
        std::string request;
        int status;
        int code;
    } cases[] = {
        {"Content-Length with Transfer-Encoding",
         Head(token, "Host: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n") +
             "0\r\n\r\n",
         400, 2},
        {"two different Content-Lengths",
         Head(token, "Host: x\r\nContent-Length: 0\r\nContent-Length: " +
                         std::to_string(inner.size()) + "\r\n") +
             inner,
         400, 2},
        {"blank before the colon",
         Head(token, "Host: x\r\nContent-Length : " + std::to_string(inner.size()) + "\r\n") +
             inner,
         400, 2},
        {"obs-fold", Head(token, "Host: x\r\nX-A: 1\r\n  folded\r\nContent-Length: 0\r\n"), 400, 2},
        {"bad chunk framing",
         Head(token, "Host: x\r\nTransfer-Encoding: chunked\r\n") + "zz\r\nabc\r\n0\r\n\r\n", 400,
         2},
        {"no Host", Head(token, "Content-Length: 0\r\n"), 400, 2},
        {"bare LF line ends", "POST " + token + " HTTP/1.1\nHost: x\nContent-Length: 0\n\n", 400,
         2},
        {"101 header fields", Head(token, "Host: x\r\n" + manyFields), 431, 6},
        {"a field of 20 KiB", Head(token, "Host: x\r\nX-Big: " + std::string(20000, 'b') + "\r\n"),
         431, 6},
        {"1 MB of header lines", Head(token, "Host: x\r\n" + floodLines), 431, 6},
        {"a target of 9 KiB", Head("/oauth/2.0/token?x=" + std::string(9000, 'a'), "Host: x\r\n"),
         414, 7},
        {"a target of 40 KiB", Head("/oauth/2.0/token?x=" + std::string(40000, 'a'), "Host: x\r\n"),
         414, 7},
        {"a body over 32 MiB announced with Expect",
         Head(token,
              "Host: x\r\nContent-Length: 40000000\r\nExpect: 100-continue\r\nContent-Type: "
              "application/x-www-form-urlencoded\r\n"),
         413, 204},
    };
    for (const auto& c : cases) {
        TlsConnection connection(tls, service.Port());
        ASSERT_TRUE(connection.Ok()) << c.name;
        connection.Send(c.request + followUp);
        const std::string raw = connection.ReadToEnd();
        const std::vector<Reply> replies = ParseReplies(raw);
        ASSERT_EQ(replies.size(), 1u) << c.name << ": " << raw.substr(0, 400);
        EXPECT_EQ(replies[0].status, c.status) << c.name;
        EXPECT_EQ(ErrorCode(replies[0]), c.code) << c.name << ": " << replies[0].body;
        EXPECT_EQ(raw.find("100 Continue"), std::string::npos) << c.name;
    }
    // Still serving.
    EXPECT_FALSE(Token(Exchange(tls, service.Port(), Post(token, ""))).empty());
}

// Several requests in one write get their answers in order on the same connection.
TEST_F(ServiceAbuse, PipelinedRequestsAreAnsweredInOrder) {
    Service service;
    ASSERT_TRUE(service.started);
    const std::string keep = " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";
    const std::string three = "POST " + TokenTarget() + keep + "POST /rest/2.0/nothing" + keep +
                              "POST /oauth/2.0/token?grant_type=client_credentials" +
                              "&client_id=a&client_secret=b HTTP/1.1\r\nHost: x\r\n" +
                              "Content-Length: 0\r\nConnection: close\r\n\r\n";
    TlsConnection connection(tls, service.Port());
    ASSERT_TRUE(connection.Ok());
    connection.Send(three);
    const std::vector<Reply> replies = ParseReplies(connection.ReadToEnd());
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].status, 200);
    EXPECT_FALSE(Token(replies[0]).empty());
    EXPECT_EQ(replies[1].status, 404);
    EXPECT_EQ(replies[2].status, 401);
    EXPECT_EQ(HeaderValue(replies[2], "Connection"), "close");

    // Expect: 100-continue under the limit: 100 first, then the answer.
    const std::string body = TokenBody();
    TlsConnection expecting(tls, service.Port());
    ASSERT_TRUE(expecting.Ok());
    expecting.Send(
        "POST /oauth/2.0/token HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n");
    EXPECT_EQ(expecting.ReadReply().status, 100);
    expecting.Send(body);
    EXPECT_FALSE(Token(expecting.ReadReply()).empty());
}

// Connections that trickle their head, one line a second: each costs the service a socket,
// not a thread, so others are served at once; and each is cut 10 s after its first byte
// whatever it keeps sending.
TEST_F(ServiceAbuse, SlowHeadsAreCutAndDoNotBlockOthers) {
    constexpr int tricklingClients = 100;
    constexpr auto prompt = seconds(5);  // a token costs milliseconds
    constexpr auto cutBy = seconds(25);  // the deadline is 10 s; they would trickle for 40 s
    constexpr int trickleLines = 40;
    Service service({"--max-per-address", "1000"});
    ASSERT_TRUE(service.started);
    std::atomic<int> cut{0}, connected{0};
    std::vector<std::thread> slow;
    const auto start = Clock::now();
    for (int i = 0; i < tricklingClients; ++i) {
        slow.emplace_back([&] {
            TlsConnection connection(tls, service.Port(), "127.0.0.1", 60);
            if (!connection.Ok()) return;
            ++connected;
            bool open = connection.Send("POST " + TokenTarget() + " HTTP/1.1\r\n");
            for (int line = 0; open && line < trickleLines; ++line) {
                std::this_thread::sleep_for(seconds(1));
                open = connection.Send("X-Slow: " + std::to_string(line) + "\r\n");
            }
            if (Clock::now() - start < cutBy) ++cut;
        });
    }
    std::this_thread::sleep_for(seconds(3));
    for (int i = 0; i < 5; ++i) {
        const auto asked = Clock::now();
        EXPECT_FALSE(Token(Exchange(tls, service.Port(), Post(TokenTarget(), ""))).empty());
        EXPECT_LT(Clock::now() - asked, prompt) << "a token request waited behind slow clients";
    }
    for (std::thread& t : slow)
        t.join();
    EXPECT_EQ(connected.load(), tricklingClients);
    EXPECT_EQ(cut.load(), tricklingClients)
        << "trickling clients were not cut by the head's deadline";
}

// Idle kept connections do not lock others out, and the service closes them after 5 s.
TEST_F(ServiceAbuse, IdleKeptConnectionsAreClosed) {
    constexpr int idleConnections = 50;
    constexpr auto closedBy = seconds(20);  // the idle limit is 5 s
    Service service({"--max-per-address", "1000"});
    ASSERT_TRUE(service.started);
    const std::string keep = "POST " + TokenTarget() + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<std::unique_ptr<TlsConnection>> idle;
    for (int i = 0; i < idleConnections; ++i) {
        idle.push_back(std::make_unique<TlsConnection>(tls, service.Port(), "127.0.0.1", 60));
        ASSERT_TRUE(idle.back()->Send(keep));
        ASSERT_EQ(idle.back()->ReadReply().status, 200);
    }
    const auto asked = Clock::now();
    EXPECT_FALSE(Token(Exchange(tls, service.Port(), Post(TokenTarget(), ""))).empty());
    EXPECT_LT(Clock::now() - asked, seconds(5));
    for (auto& connection : idle) {
        connection->ReadToEnd();  // ends when the service closes it, or after 60 s
        EXPECT_LT(Clock::now() - asked, closedBy);
    }
}

TEST_F(ServiceAbuse, ConnectionLimitsCloseNewConnectionsAtOnce) {
    Service service({"--max-connections", "6", "--max-per-address", "3"});
    ASSERT_TRUE(service.started);
    auto open = [&](const char* source) {
        return std::make_unique<TlsConnection>(tls, service.Port(), source, 20);
    };
    std::vector<std::unique_ptr<TlsConnection>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(open("127.0.0.1"));
        EXPECT_TRUE(held.back()->Ok()) << "connection " << i << " from 127.0.0.1";
    }
    EXPECT_FALSE(open("127.0.0.1")->Ok()) << "a fourth from one address";
    for (int i = 0; i < 3; ++i) {
        held.push_back(open("127.0.0.2"));
        EXPECT_TRUE(held.back()->Ok()) << "connection " << i << " from 127.0.0.2";
    }
    EXPECT_FALSE(open("127.0.0.3")->Ok()) << "a seventh in all";
    // A place set free is taken again.
    held.pop_back();
    bool again = false;
    for (int i = 0; i < 50 && !again; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        again = open("127.0.0.3")->Ok();
    }
    EXPECT_TRUE(again);
    held.clear();
    EXPECT_EQ(service.process.Stop(), 0);
    const std::string log = servicetest::ReadFile(service.Log());
    EXPECT_NE(log.find("refused "), std::string::npos) << log;
}

// With the queue full, a recognition is refused at once with 503, Retry-After and the error
// JSON, never queued without bound.
TEST_F(ServiceAbuse, FullRecognitionQueueAnswers503WithRetryAfter) {
    constexpr int clientCount = 24;
    Service service({"--max-queue", "0", "--max-per-address", "1000"});
    ASSERT_TRUE(service.started);
    const std::string token = Token(Exchange(tls, service.Port(), Post(TokenTarget(), "")));
    ASSERT_FALSE(token.empty());
    const std::string request = Post("/rest/2.0/ocr/v1/license_plate?access_token=" + token,
                                     "image=" + FormValue(Base64(GreyPng(3000, 3000))));
    std::vector<std::unique_ptr<TlsConnection>> connections;
    for (int i = 0; i < clientCount; ++i) {
        connections.push_back(std::make_unique<TlsConnection>(tls, service.Port()));
        ASSERT_TRUE(connections.back()->Ok());
    }
    std::barrier ready(clientCount);
    std::vector<Reply> replies(clientCount);
    std::vector<std::thread> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.emplace_back([&, i] {
            ready.arrive_and_wait();
            connections[i]->Send(request);
            replies[i] = connections[i]->ReadReply();
        });
    }
    for (std::thread& t : clients)
        t.join();
    int busy = 0;
    for (const Reply& reply : replies) {
        if (reply.status == 503) {
            ++busy;
            EXPECT_EQ(ErrorCode(reply), 8) << reply.body;
            EXPECT_EQ(HeaderValue(reply, "Retry-After"), "1");
        } else {
            EXPECT_EQ(reply.status, 200) << reply.body;  // "no plate found" is a 200
        }
    }
    EXPECT_GT(busy, 0) << "24 pictures at once with 0 places in the queue";
    EXPECT_LT(busy, clientCount);
}

// The service sets its own TLS floor: a system configuration that allows TLS 1.0 and every
// cipher (OPENSSL_CONF, for the service and for the client) changes nothing.
TEST_F(ServiceAbuse, TlsFloorHoldsUnderAPermissiveOpenSslConfiguration) {
    servicetest::TempDir confDir;
    const std::string conf = confDir.Path() + "/permissive.cnf";
    std::ofstream(conf) << "openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\n"
                           "system_default = permissive\n[permissive]\n"
                           "MinProtocol = TLSv1\nCipherString = ALL:@SECLEVEL=0\n";
    setenv("OPENSSL_CONF", conf.c_str(), 1);
    Service service;
    unsetenv("OPENSSL_CONF");
    ASSERT_TRUE(service.started);
    struct {
        const char* options;
        bool connects;
        const char* inOutput;
    } cases[] = {
        {"-tls1 -cipher ALL:@SECLEVEL=0", false, ""},
        {"-tls1_1 -cipher ALL:@SECLEVEL=0", false, ""},
        {"-tls1_2 -cipher AES128-SHA:@SECLEVEL=0", false, ""},
        {"-tls1_2 -cipher ECDHE-ECDSA-AES128-SHA:@SECLEVEL=0", false, ""},
        {"-tls1_2 -cipher ECDHE-ECDSA-AES128-SHA256:@SECLEVEL=0", false, ""},
        {"-tls1_2 -cipher ECDHE-ECDSA-AES128-GCM-SHA256", true, "ECDHE-ECDSA-AES128-GCM-SHA256"},
        {"-tls1_2 -cipher ECDHE-ECDSA-CHACHA20-POLY1305", true, "ECDHE-ECDSA-CHACHA20-POLY1305"},
        {"-tls1_3", true, "TLSv1.3"},
    };
    for (const auto& c : cases) {
        const std::string command =
            "echo | OPENSSL_CONF='" + conf +
            "' openssl s_client -connect 127.0.0.1:" + std::to_string(service.Port()) + " " +
            c.options + " 2>&1";
        std::string output;
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        const int status = pclose(pipe);
        const bool connected = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_EQ(connected, c.connects) << c.options << ":\n" << output;
        EXPECT_NE(output.find(c.inOutput), std::string::npos) << c.options << ":\n" << output;
        // No session tickets: every connection makes a full handshake.
        EXPECT_EQ(output.find("TLS session ticket:"), std::string::npos) << c.options;
    }
}

// SIGTERM with idle kept connections: they are closed at once and the service exits 0.
TEST_F(ServiceAbuse, StopClosesIdleConnectionsAtOnce) {
    constexpr auto quick = seconds(3);  // idle connections would otherwise last 5 s
    Service service;
    ASSERT_TRUE(service.started);
    const std::string keep = "POST " + TokenTarget() + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<std::unique_ptr<TlsConnection>> idle;
    for (int i = 0; i < 5; ++i) {
        idle.push_back(std::make_unique<TlsConnection>(tls, service.Port()));
        ASSERT_TRUE(idle.back()->Send(keep));
        ASSERT_EQ(idle.back()->ReadReply().status, 200);
    }
    const auto start = Clock::now();
    EXPECT_EQ(service.process.Stop(SIGTERM), 0);
    EXPECT_LT(Clock::now() - start, quick);
}

// SIGTERM while a request is in progress: it is finished and answered, then the service
// exits 0; new connections are no longer taken.
TEST_F(ServiceAbuse, StopLetsARequestInProgressEnd) {
    Service service;
    ASSERT_TRUE(service.started);
    const std::string body = TokenBody();
    TlsConnection busy(tls, service.Port());
    ASSERT_TRUE(busy.Ok());
    ASSERT_TRUE(
        busy.Send("POST /oauth/2.0/token HTTP/1.1\r\nHost: x\r\nContent-Type: "
                  "application/x-www-form-urlencoded\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, body.size() / 2)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(service.process.Pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(TlsConnection(tls, service.Port(), "127.0.0.1", 10).Ok())
        << "a stopping service took a new connection";
    ASSERT_TRUE(busy.Send(body.substr(body.size() / 2)));
    const Reply reply = busy.ReadReply();
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_FALSE(Token(reply).empty());
    EXPECT_EQ(HeaderValue(reply, "Connection"), "close");
    EXPECT_EQ(service.process.Stop(SIGTERM), 0);
}

}  // namespace
