// Failures and the WinHTTP error each one gives, at the call where WinHTTP reports it.
#include <gtest/gtest.h>

#include "tests/integration/winhttp/client.h"
#include "tests/support/test_proxy.h"
#include "tests/support/test_server.h"

using namespace testclient;
using testsupport::Connection;
using testsupport::Request;

namespace {

// Answer: WinHttpReceiveResponse or the body's calls (a reset discards what the client has not
// read yet, headers included).
enum class Stage { Send, Receive, Answer, Body };

std::string Name(Stage stage) {
    return stage == Stage::Send ? "send" : stage == Stage::Receive ? "receive" : "body";
}

TEST(WinHttpFailures, EachFailureHasItsCode) {
    struct {
        const char* name;
        testsupport::Handler handler;  // null: no server at all
        int receiveTimeout;
        Stage stage;
        DWORD error;
    } cases[] = {
        {"connection refused", nullptr, 30000, Stage::Send, ERROR_WINHTTP_CANNOT_CONNECT},
        {"reset before any answer", [](const Request&, Connection& c) { c.Reset(); }, 30000,
         Stage::Receive, ERROR_WINHTTP_CONNECTION_ERROR},
        {"closed without answer", [](const Request&, Connection& c) { c.Close(); }, 30000,
         Stage::Receive, ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        {"not HTTP", [](const Request&, Connection& c) { c.Write("hello there\r\n\r\n"); }, 30000,
         Stage::Receive, ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
        {"stalled before headers", [](const Request&, Connection& c) { c.Stall(); }, 300,
         Stage::Receive, ERROR_WINHTTP_TIMEOUT},
        {"stalled inside the headers",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-");
             c.Stall();
         },
         300, Stage::Receive, ERROR_WINHTTP_TIMEOUT},
        {"stalled inside the body",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
             c.Stall();
         },
         300, Stage::Body, ERROR_WINHTTP_TIMEOUT},
        {"reset halfway through the body",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'x'));
             c.Sleep(100);
             c.Reset();
         },
         30000, Stage::Answer, ERROR_WINHTTP_CONNECTION_ERROR},
        {"closed before Content-Length is reached",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
             c.Close();
         },
         30000, Stage::Body, ERROR_WINHTTP_CONNECTION_ERROR},
        {"broken chunked framing",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n");
             c.Close();
         },
         30000, Stage::Body, ERROR_WINHTTP_CONNECTION_ERROR},
    };
    for (const auto& row : cases) {
        std::unique_ptr<testsupport::TestServer> server;
        std::string url = "http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/";
        if (row.handler) {
            server = std::make_unique<testsupport::TestServer>();
            server->Handle(row.handler);
            url = server->Url("/");
        }
        Internet session = OpenSession();
        ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 10000, 10000, row.receiveTimeout));
        Answer answer = Fetch(session.get(), {"GET", url, {}, "", nullptr});
        Stage stage = !answer.sent ? Stage::Send : !answer.received ? Stage::Receive : Stage::Body;
        EXPECT_FALSE(answer.bodyOk) << row.name;
        if (row.stage == Stage::Answer) {
            EXPECT_NE(Name(stage), Name(Stage::Send)) << row.name;
        } else {
            EXPECT_EQ(Name(stage), Name(row.stage)) << row.name;
        }
        EXPECT_EQ(answer.error, row.error) << row.name;
    }
}

TEST(WinHttpFailures, UnresolvableNameIsReported) {
    Internet session = OpenSession();
    Answer answer = Fetch(session.get(), {"GET", "http://no-such-host.invalid/", {}, "", nullptr});
    EXPECT_FALSE(answer.sent);
    EXPECT_EQ(answer.error, ERROR_WINHTTP_NAME_NOT_RESOLVED);
}

}  // namespace
