// What HttpSession puts on the wire, and how it reacts to what comes back, through the real
// WinHTTP layer against the scriptable test server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/session.h"
#include "tests/support/test_proxy.h"
#include "tests/support/test_server.h"
#include "tests/support/text_helpers.h"

using testsupport::Connection;
using testsupport::Request;
using testsupport::Response;
using testsupport::TestServer;

TEST(SessionWire, StockHeadersAndWhenContentTypeIsAdded) {
    TestServer server;
    struct {
        const char* method;
        const char* body;
        const char* wireMethod;
        bool contentType;
    } cases[] = {
        {"", "", "GET", false},     {"get", "a=1", "GET", true},
        {"post", "", "POST", true}, {"PoSt", "image=x", "POST", true},
        {"put", "", "PUT", false},
    };
    HttpSession session;
    for (const auto& c : cases) {
        ASSERT_TRUE(session.Open(c.method, server.Url("/h").c_str()));
        ASSERT_TRUE(session.Send(c.body)) << c.method;
        const Request request = server.Requests().back();
        EXPECT_EQ(request.method, c.wireMethod);
        EXPECT_EQ(request.Header("Accept"), "*/*") << c.method;
        EXPECT_EQ(request.Header("Accept-Language"), "zh-cn");
        EXPECT_EQ(request.Header("Cache-Control"), "no-cache");
        EXPECT_EQ(request.Header("User-Agent"),
                  "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)");
        EXPECT_EQ(request.Header("Content-Type"),
                  c.contentType ? "application/x-www-form-urlencoded" : "")
            << c.method << " '" << c.body << "'";
        EXPECT_EQ(request.body, c.body);
        EXPECT_EQ(session.GetStatus(), 200);
        EXPECT_EQ(S(session.GetResponseText()), "ok");
    }
    // Without the stock headers none of them goes out.
    session.SetDefaultHeaders(0);
    ASSERT_TRUE(session.Open("POST", server.Url("/h").c_str()));
    ASSERT_TRUE(session.Send("x"));
    EXPECT_EQ(server.Requests().back().HeaderCount("Accept-Language"), 0);
    EXPECT_EQ(server.Requests().back().HeaderCount("Cache-Control"), 0);
}

TEST(SessionWire, CallersHeaderWinsOverTheStockOne) {
    TestServer server;
    HttpSession session;
    ASSERT_TRUE(session.Open("POST", server.Url("/").c_str()));
    EXPECT_NE(session.SetAccept("application/json"), 0);
    EXPECT_NE(session.SetContentType("application/json; charset=utf-8"), 0);
    EXPECT_NE(session.SetRequestHeader("X-Token", "abc"), 0);
    ASSERT_TRUE(session.Send("{}"));
    const Request request = server.Requests().back();
    EXPECT_EQ(request.Header("Accept"), "application/json");
    EXPECT_EQ(request.HeaderCount("Accept"), 1);
    EXPECT_EQ(request.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.HeaderCount("Content-Type"), 1);
    EXPECT_EQ(request.Header("X-Token"), "abc");

    // Removed before sending: the stock line fills the gap again.
    ASSERT_TRUE(session.Open("GET", server.Url("/").c_str()));
    session.SetRequestHeader("X-Gone", "1");
    session.RemoveRequestHeader("X-Gone");
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(server.Requests().back().HeaderCount("X-Gone"), 0);
}

TEST(SessionWire, PathWithQueryAndSlashForAnEmptyPath) {
    TestServer server;
    const std::string base = "127.0.0.1:" + std::to_string(server.Port());
    struct {
        std::string url;
        const char* target;
    } cases[] = {
        {"http://" + base, "/"},
        {base + "/p/q?x=1&y=%20z", "/p/q?x=1&y=%20z"},  // no scheme: "http://" is put in front
        {"HTTP://" + base + "/A/b", "/A/b"},
    };
    HttpSession session;
    for (const auto& c : cases) {
        ASSERT_TRUE(session.Open("GET", c.url.c_str())) << c.url;
        ASSERT_TRUE(session.Send()) << c.url;
        EXPECT_EQ(server.Requests().back().target, c.target) << c.url;
    }
}

TEST(SessionWire, OneConnectionPerHostAndPort) {
    TestServer first, second;
    HttpSession session;
    ASSERT_TRUE(session.Open("GET", first.Url("/1").c_str()));
    ASSERT_TRUE(session.Send());
    HINTERNET connection = session.connectHandle;
    ASSERT_TRUE(session.Open("GET", first.Url("/2").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(session.connectHandle, connection);
    EXPECT_EQ(first.ConnectionCount(), 1);
    EXPECT_EQ(first.Requests()[1].connection, 1);

    ASSERT_TRUE(session.Open("GET", second.Url("/3").c_str()));  // another port
    ASSERT_TRUE(session.Send());
    EXPECT_NE(session.connectHandle, connection);
    EXPECT_EQ(second.ConnectionCount(), 1);

    // The same host in other letter case is another WinHTTP connection. Whether WinHTTP then
    // opens a new TCP connection or takes one from its pool is its own affair.
    const std::string port = std::to_string(first.Port());
    ASSERT_TRUE(session.Open("GET", ("http://localhost:" + port + "/4").c_str()));
    ASSERT_TRUE(session.Send());
    connection = session.connectHandle;
    ASSERT_TRUE(session.Open("GET", ("http://LocalHost:" + port + "/5").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_NE(session.connectHandle, connection);
    EXPECT_EQ(S(session.host), "LocalHost");
    EXPECT_EQ(first.Requests().back().target, "/5");
}

TEST(SessionWire, RetriesAfterConnectionErrorsOnly) {
    // Every connection is reset before an answer: the same request is sent three times.
    TestServer resetting;
    resetting.Handle([](const Request&, Connection& c) { c.Reset(); });
    HttpSession session;
    ASSERT_TRUE(session.Open("POST", resetting.Url("/").c_str()));
    EXPECT_FALSE(session.Send("x", 0, 2));
    EXPECT_EQ(GetLastError(), ERROR_WINHTTP_CONNECTION_ERROR);
    EXPECT_EQ(resetting.Requests().size(), 3u);
    EXPECT_EQ(S(session.GetAllResponseHeaders()), "");

    // A port that refuses: three attempts, each failing to connect.
    ASSERT_TRUE(session.Open(
        "GET", ("http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/").c_str()));
    EXPECT_FALSE(session.Send(Text(), 0, 2));
    EXPECT_EQ(GetLastError(), ERROR_WINHTTP_CANNOT_CONNECT);

    // A time-out is not retried.
    TestServer stalling;
    stalling.Handle([](const Request&, Connection& c) { c.Stall(); });
    ASSERT_TRUE(session.SetTimeouts(10000, 15000, 120000, 500));
    ASSERT_TRUE(session.Open("GET", stalling.Url("/").c_str()));
    EXPECT_FALSE(session.Send(Text(), 0, 2));
    EXPECT_EQ(GetLastError(), ERROR_WINHTTP_TIMEOUT);
    EXPECT_EQ(stalling.Requests().size(), 1u);
}

TEST(SessionWire, AnswerGetters) {
    TestServer server;
    server.Reply(
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Set-Cookie: sid=xyz; path=/\r\nset-cookie: lang=zh\r\nContent-Length: 6\r\n\r\n"
        "\xE4\xB8\xAD\xE6\x96\x87");
    HttpSession session;
    EXPECT_EQ(session.GetStatus(), 0);
    ASSERT_TRUE(session.Open("GET", server.Url("/").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(session.GetStatus(), 404);
    EXPECT_EQ(S(session.GetStatusText()), "Not Found");
    EXPECT_EQ(S(session.GetResponseHeader("content-type")), "text/plain; charset=utf-8");
    EXPECT_EQ(S(session.GetResponseCookies()), "sid=xyz; lang=zh");
    EXPECT_EQ(S(session.GetResponseCookie("SID")), "xyz");
    EXPECT_EQ(session.contentLength, 6);
    EXPECT_EQ(S(session.GetResponseText()), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(S(session.GetResponseText()), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(S(session.GetAllResponseHeaders()).substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
}

TEST(SessionWire, BodiesWithAndWithoutLength) {
    std::string big(3 * 1048576 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    TestServer server;
    server.Handle([&big](const Request& request, Connection& c) {
        if (request.target == "/known") {
            c.Write(Response("200 OK", big));
            return;
        }
        // Chunked, in uneven pieces.
        std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (size_t at = 0; at < big.size(); at += 70000) {
            const size_t n = std::min<size_t>(70000, big.size() - at);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", n);
            answer += size + big.substr(at, n) + "\r\n";
        }
        c.Write(answer + "0\r\n\r\n");
    });
    HttpSession session;
    for (const char* path : {"/known", "/chunked"}) {
        ASSERT_TRUE(session.Open("GET", server.Url(path).c_str()));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(session.contentLength, std::string(path) == "/known" ? int(big.size()) : -1);
        const Bytes body = session.GetResponseBody();
        ASSERT_EQ(body.size(), static_cast<int>(big.size())) << path;
        EXPECT_EQ(std::memcmp(big.data(), body.data(), big.size()), 0) << path;
    }
}

TEST(SessionWire, ProxyWithCredentialsWaitingForTheRequest) {
    testsupport::TinyProxy proxy("user", "secret");
    if (!proxy.Running()) GTEST_SKIP() << "tinyproxy not installed";
    TestServer server;
    HttpSession session;
    EXPECT_NE(session.SetProxy(proxy.Address().c_str(), "user", "secret"), 0);
    ASSERT_TRUE(session.Open("GET", server.Url("/via").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(session.GetStatus(), 200);
    EXPECT_EQ(server.Requests().back().target, "/via");

    // The credentials went with that request only.
    ASSERT_TRUE(session.Open("GET", server.Url("/again").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(session.GetStatus(), 407);
}

TEST(SessionWire, BodiesGoOutAsTheirBytes) {
    TestServer server;
    HttpSession session;
    const char raw[] = {'a', '\0', '\xD6', '\xD0'};
    ASSERT_TRUE(session.Open("POST", server.Url("/bytes").c_str()));
    ASSERT_TRUE(session.SendBytes(Bytes(raw, 4)));
    Request request = server.Requests().back();
    EXPECT_EQ(request.body, std::string(raw, 4));
    EXPECT_EQ(request.Header("Content-Length"), "4");

    // A text body is sent without conversion and without its NUL.
    ASSERT_TRUE(session.Open("POST", server.Url("/text").c_str()));
    ASSERT_TRUE(session.Send("image=\xD6\xD0"));
    request = server.Requests().back();
    EXPECT_EQ(request.body, "image=\xD6\xD0");
    EXPECT_EQ(request.Header("Content-Length"), "8");

    // A POST without body still says so.
    ASSERT_TRUE(session.Open("POST", server.Url("/empty").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(server.Requests().back().Header("Content-Length"), "0");
}

TEST(SessionWire, CallersCookieHeaderInModeZeroReplacesWinHttpsCookies) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/set") {
            c.Write(Response("200 OK", "", {"Set-Cookie: jar=1; path=/"}));
        } else {
            c.Write(Response("200 OK", request.Header("Cookie")));
        }
    });
    HttpSession session;
    ASSERT_TRUE(session.Open("GET", server.Url("/set").c_str()));
    ASSERT_TRUE(session.Send());
    ASSERT_TRUE(session.Open("GET", server.Url("/echo").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseText()), "jar=1");  // WinHTTP's own cookies in mode 0

    ASSERT_TRUE(session.Open("GET", server.Url("/echo").c_str()));
    EXPECT_NE(session.SetCookieHeader("a=1; b=2"), 0);
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseText()), "a=1; b=2");
}
