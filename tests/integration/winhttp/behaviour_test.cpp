// Keep-alive, streaming bodies, redirects, cookies and server authentication against the
// scriptable test server.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <openssl/evp.h>

#include "tests/integration/winhttp/client.h"
#include "tests/support/test_server.h"

using namespace testclient;
using testsupport::Connection;
using testsupport::Request;
using testsupport::Response;
using testsupport::TestServer;

namespace {

// A session, its connection to 127.0.0.1:port and a GET "/" on it, not yet sent; the handles
// close in reverse order.
struct OpenRequest {
    Internet session;
    Internet connection;
    Internet request;
};

OpenRequest OpenGet(int port) {
    OpenRequest open{OpenSession(), Internet(), Internet()};
    open.connection =
        Internet(WinHttpConnect(open.session.get(), u"127.0.0.1", INTERNET_PORT(port), 0));
    open.request = Internet(
        WinHttpOpenRequest(open.connection.get(), u"GET", u"/", nullptr, nullptr, nullptr, 0));
    return open;
}

TEST(WinHttpKeepAlive, RequestsOfOneSessionShareTheConnection) {
    TestServer server;
    Internet session = OpenSession();
    for (int i = 0; i < 5; ++i) {
        Answer answer =
            Fetch(session.get(), {i % 2 ? "POST" : "GET", server.Url("/n"), {}, "b", nullptr});
        ASSERT_TRUE(answer.bodyOk) << i << ": error " << answer.error;
        EXPECT_EQ(answer.body, "ok");
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
    Internet other = OpenSession();
    ASSERT_TRUE(Fetch(other.get(), {"GET", server.Url("/"), {}, "", nullptr}).bodyOk);
    EXPECT_EQ(server.ConnectionCount(), 2);  // another session, another connection
}

TEST(WinHttpKeepAlive, ClosedConnectionIsNotReused) {
    TestServer server;
    server.Handle([](const Request&, Connection& c) {
        c.Write(Response("200 OK", "bye", {"Connection: close"}));
        c.Close();
    });
    Internet session = OpenSession();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr}).bodyOk);
    }
    EXPECT_EQ(server.ConnectionCount(), 3);
}

TEST(WinHttpStreaming, BodiesOfEveryFraming) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 23);
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < big.size(); at += 100000) {
        std::string piece = big.substr(at, 100000);
        char size[16];
        snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    struct {
        const char* framing;
        std::string raw;
        bool close;
        std::string expected;
    } cases[] = {
        {"identity", Response("200 OK", big), false, big},
        {"chunked", chunked, false, big},
        {"close-delimited", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big, true, big},
        {"empty with length 0", Response("200 OK", ""), false, ""},
        {"204 without body", "HTTP/1.1 204 No Content\r\n\r\n", false, ""},
    };
    for (const auto& row : cases) {
        TestServer server;
        server.Handle([&](const Request&, Connection& c) {
            c.Write(row.raw);
            if (row.close) c.Close();
        });
        Internet session = OpenSession();
        Answer answer = Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr});
        ASSERT_TRUE(answer.bodyOk) << row.framing << ": error " << answer.error;
        EXPECT_TRUE(answer.body == row.expected)
            << row.framing << ": got " << answer.body.size() << " bytes";
    }
}

TEST(WinHttpStreaming, ReceiveReturnsWithTheHeadersBeforeTheBody) {
    TestServer server;
    std::mutex mutex;
    std::condition_variable received;
    bool headersSeen = false;
    server.Handle([&](const Request&, Connection& c) {
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
        std::unique_lock lock(mutex);
        received.wait_for(lock, std::chrono::seconds(20), [&] { return headersSeen; });
        c.Write("body");
    });
    auto [session, connection, request] = OpenGet(server.Port());
    ASSERT_TRUE(WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    {
        std::lock_guard lock(mutex);
        headersSeen = true;  // the server sends the body only now
    }
    received.notify_all();
    DWORD available = 0;
    ASSERT_TRUE(WinHttpQueryDataAvailable(request.get(), &available));
    char buffer[8] = {};
    DWORD read = 0;
    ASSERT_TRUE(WinHttpReadData(request.get(), buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "body");
    ASSERT_TRUE(WinHttpQueryDataAvailable(request.get(), &available));
    EXPECT_EQ(available, 0u);
}

TEST(WinHttpStreaming, ReadsInSmallPiecesAndAvailableIsBounded) {
    TestServer server;
    std::string body(2 * 1024 * 1024, 'z');
    server.Reply(Response("200 OK", body));
    auto [session, connection, request] = OpenGet(server.Port());
    ASSERT_TRUE(WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    size_t total = 0;
    DWORD largest = 0;
    for (;;) {
        DWORD available = 0;
        ASSERT_TRUE(WinHttpQueryDataAvailable(request.get(), &available));
        if (available == 0) break;
        largest = std::max(largest, available);
        char buffer[1000];
        DWORD read = 0;
        ASSERT_TRUE(WinHttpReadData(request.get(), buffer, sizeof buffer, &read));
        total += read;
    }
    EXPECT_EQ(total, body.size());
    EXPECT_LT(largest, 1024u * 1024u);  // a window, never the whole body
}

TEST(WinHttpStreaming, SlowAnswersWithinTheReceiveTimeoutArrive) {
    // The receive timeout limits the wait for the next bytes, not the whole answer: 25 pieces
    // 100 ms apart take longer than the 2 s limit but never wait that long for one piece.
    TestServer server;
    server.Handle([](const Request&, Connection& c) {
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 25\r\n\r\n");
        for (int i = 0; i < 25; ++i) {
            c.Sleep(100);
            c.Write("x");
        }
    });
    Internet session = OpenSession();
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 10000, 10000, 2000));
    Answer answer = Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.body, std::string(25, 'x'));
}

TEST(WinHttpStreaming, HeadHasNoBodyWhateverItsLength) {
    TestServer server;
    server.Reply("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    Internet session = OpenSession();
    for (int i = 0; i < 2; ++i) {
        Answer answer = Fetch(session.get(), {"HEAD", server.Url("/"), {}, "", nullptr});
        ASSERT_TRUE(answer.bodyOk) << answer.error;
        EXPECT_EQ(answer.body, "");
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(WinHttpWireExtras, SendRequestTakesExtraHeaders) {
    TestServer server;
    auto [session, connection, request] = OpenGet(server.Port());
    ASSERT_TRUE(WinHttpSendRequest(request.get(), u"X-Extra: 1\r\n", DWORD(-1), nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(server.Requests()[0].Header("X-Extra"), "1");
}

TEST(WinHttpStreaming, TwoRequestsOfOneSessionReadInTurns) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        c.Write(Response("200 OK", std::string(1024 * 1024, request.target == "/a" ? 'a' : 'b')));
    });
    Internet session = OpenSession();
    Internet connection(
        WinHttpConnect(session.get(), u"127.0.0.1", INTERNET_PORT(server.Port()), 0));
    Internet first(
        WinHttpOpenRequest(connection.get(), u"GET", u"/a", nullptr, nullptr, nullptr, 0));
    Internet second(
        WinHttpOpenRequest(connection.get(), u"GET", u"/b", nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(WinHttpSendRequest(first.get(), nullptr, 0, nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(first.get(), nullptr));
    ASSERT_TRUE(WinHttpSendRequest(second.get(), nullptr, 0, nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(second.get(), nullptr));
    std::string bodies[2];
    HINTERNET requests[2] = {first.get(), second.get()};
    for (bool more = true; more;) {
        more = false;
        for (int i = 0; i < 2; ++i) {
            char buffer[7000];
            DWORD read = 0;
            ASSERT_TRUE(WinHttpReadData(requests[i], buffer, sizeof buffer, &read)) << i;
            bodies[i].append(buffer, read);
            more = more || read > 0;
        }
    }
    EXPECT_TRUE(bodies[0] == std::string(1024 * 1024, 'a'));
    EXPECT_TRUE(bodies[1] == std::string(1024 * 1024, 'b'));
}

TEST(WinHttpResponse, HeadersAreTheFinalAnswersWithTheSizingProtocol) {
    TestServer server;
    server.Reply("HTTP/1.1 404 Not Here\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n");
    auto [session, connection, request] = OpenGet(server.Port());
    ASSERT_TRUE(WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    const std::string raw = "HTTP/1.1 404 Not Here\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n";
    struct {
        DWORD level;
        std::string expected;
    } cases[] = {
        {WINHTTP_QUERY_RAW_HEADERS_CRLF, raw},
        {WINHTTP_QUERY_STATUS_CODE, "404"},
        {WINHTTP_QUERY_STATUS_TEXT, "Not Here"},
    };
    for (const auto& row : cases) {
        DWORD size = 0;
        EXPECT_FALSE(
            WinHttpQueryHeaders(request.get(), row.level, nullptr, nullptr, &size, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << row.level;
        EXPECT_EQ(size, (row.expected.size() + 1) * 2) << row.level;  // bytes, zero included
        std::u16string buffer(size / 2, u'x');
        ASSERT_TRUE(
            WinHttpQueryHeaders(request.get(), row.level, nullptr, buffer.data(), &size, nullptr));
        EXPECT_EQ(size, row.expected.size() * 2) << row.level;
        EXPECT_EQ(Narrow(buffer.substr(0, size / 2)), row.expected) << row.level;
        EXPECT_EQ(buffer[size / 2], u'\0') << row.level;
    }
}

TEST(WinHttpResponse, InterimAnswersAreSkipped) {
    TestServer server;
    server.Reply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    Internet session = OpenSession();
    Answer answer = Fetch(session.get(), {"POST", server.Url("/"), {}, "x", nullptr});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.rawHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
}

// A server whose paths redirect: /r/N answers STATUS with Location /r/N-1, /r/0 answers 200.
void RedirectChain(TestServer& server, int status) {
    server.Handle([status](const Request& request, Connection& c) {
        if (request.target.rfind("/r/", 0) != 0 || request.target == "/r/0") {
            c.Write(Response("200 OK", "final:" + request.method + ":" + request.body,
                             {"X-Final: yes"}));
            return;
        }
        int left = std::stoi(request.target.substr(3));
        c.Write(Response(std::to_string(status) + " Moved", "moved body",
                         {"Location: /r/" + std::to_string(left - 1), "X-Hop: yes"}));
    });
}

TEST(WinHttpRedirects, FollowedByPolicy) {
    struct {
        const char* name;
        int status;
        std::string verb;
        int hops;
        bool disabled;
        DWORD expectedStatus;
        std::string expectedBody;
        size_t expectedRequests;
    } cases[] = {
        {"302 chain of 3", 302, "GET", 3, false, 200, "final:GET:", 4},
        {"301 turns POST into GET", 301, "POST", 1, false, 200, "final:GET:", 2},
        {"302 turns POST into GET", 302, "POST", 1, false, 200, "final:GET:", 2},
        {"303 turns POST into GET", 303, "POST", 1, false, 200, "final:GET:", 2},
        {"307 keeps POST and body", 307, "POST", 1, false, 200, "final:POST:data", 2},
        {"308 keeps POST and body", 308, "POST", 2, false, 200, "final:POST:data", 3},
        {"10 redirects are followed", 302, "GET", 10, false, 200, "final:GET:", 11},
        {"the 11th is not", 302, "GET", 11, false, 302, "moved body", 11},
        {"disabled: the redirect is the answer", 302, "GET", 3, true, 302, "moved body", 1},
    };
    for (const auto& row : cases) {
        TestServer server;
        RedirectChain(server, row.status);
        Internet session = OpenSession();
        Call call{row.verb, server.Url("/r/" + std::to_string(row.hops)), {}, "", nullptr};
        if (row.verb == "POST") call.body = "data";
        if (row.disabled) {
            call.setup = [](HINTERNET request) {
                DWORD value = WINHTTP_DISABLE_REDIRECTS;
                WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value);
            };
        }
        Answer answer = Fetch(session.get(), call);
        ASSERT_TRUE(answer.bodyOk) << row.name << ": error " << answer.error;
        EXPECT_EQ(answer.status, row.expectedStatus) << row.name;
        EXPECT_EQ(answer.body, row.expectedBody) << row.name;
        EXPECT_EQ(server.Requests().size(), row.expectedRequests) << row.name;
        // The headers are the final answer's alone.
        bool isFinal = row.expectedStatus == 200;
        EXPECT_EQ(answer.rawHeaders.find("X-Final") != std::string::npos, isFinal) << row.name;
        EXPECT_EQ(answer.rawHeaders.find("X-Hop") != std::string::npos, !isFinal) << row.name;
        EXPECT_EQ(server.ConnectionCount(), 1) << row.name;  // hops reuse the connection
    }
}

TEST(WinHttpRedirects, GetAfterPostCarriesNoBodyOrLength) {
    TestServer server;
    RedirectChain(server, 302);
    Internet session = OpenSession();
    ASSERT_TRUE(Fetch(session.get(), {"POST", server.Url("/r/1"), {}, "data", nullptr}).bodyOk);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].raw,
              "GET /r/0 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                  "\r\nUser-Agent: TestAgent/1.0\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(WinHttpRedirects, ToAnotherServerWithAbsoluteLocation) {
    TestServer target;
    target.Reply(Response("200 OK", "there"));
    TestServer origin;
    origin.Reply(Response("302 Found", "", {"Location: " + target.Url("/t?x=1")}));
    Internet session = OpenSession();
    Answer answer = Fetch(session.get(), {"GET", origin.Url("/"), {}, "", nullptr});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.body, "there");
    ASSERT_EQ(target.Requests().size(), 1u);
    EXPECT_EQ(target.Requests()[0].target, "/t?x=1");
    EXPECT_EQ(target.Requests()[0].Header("Host"), "127.0.0.1:" + std::to_string(target.Port()));
}

TEST(WinHttpCookies, SessionKeepsAndSendsItsCookies) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/set") {
            c.Write(
                Response("200 OK", "", {"Set-Cookie: a=1; Path=/", "Set-Cookie: b=2; Path=/sub"}));
        } else if (request.target == "/hop") {
            c.Write(Response("302 Found", "", {"Set-Cookie: hop=3; Path=/", "Location: /echo"}));
        } else {
            c.Write(Response("200 OK", request.Header("Cookie")));
        }
    });
    auto disableCookies = [](HINTERNET request) {
        DWORD value = WINHTTP_DISABLE_COOKIES;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value);
    };
    Internet session = OpenSession();
    ASSERT_TRUE(Fetch(session.get(), {"GET", server.Url("/set"), {}, "", nullptr}).bodyOk);
    EXPECT_EQ(Fetch(session.get(), {"GET", server.Url("/echo"), {}, "", nullptr}).body, "a=1");
    EXPECT_EQ(Fetch(session.get(), {"GET", server.Url("/sub/echo"), {}, "", nullptr}).body,
              "b=2; a=1");
    EXPECT_EQ(Fetch(session.get(), {"GET", server.Url("/echo"), {}, "", disableCookies}).body, "");
    // A cookie set by a redirect answer goes with the next hop (the order of cookies with
    // equal paths is libcurl's).
    std::string hop = Fetch(session.get(), {"GET", server.Url("/hop"), {}, "", nullptr}).body;
    EXPECT_TRUE(hop == "a=1; hop=3" || hop == "hop=3; a=1") << hop;
    Internet other = OpenSession();
    EXPECT_EQ(Fetch(other.get(), {"GET", server.Url("/echo"), {}, "", nullptr}).body, "");
}

TEST(WinHttpCookies, DisabledCookiesAreNotStoredEither) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/set") {
            c.Write(Response("200 OK", "", {"Set-Cookie: a=1; Path=/"}));
        } else {
            c.Write(Response("200 OK", request.Header("Cookie")));
        }
    });
    Internet session = OpenSession();
    Call set{"GET", server.Url("/set"), {}, "", [](HINTERNET request) {
                 DWORD value = WINHTTP_DISABLE_COOKIES;
                 WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value);
             }};
    ASSERT_TRUE(Fetch(session.get(), set).bodyOk);
    EXPECT_EQ(Fetch(session.get(), {"GET", server.Url("/echo"), {}, "", nullptr}).body, "");
}

TEST(WinHttpAuth, ServerBasicWithSetCredentials) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.Header("Authorization") == "Basic dXNlcjpwdw==") {  // user:pw
            c.Write(Response("200 OK", "welcome"));
        } else {
            c.Write(Response("401 Unauthorized", "who?", {"WWW-Authenticate: Basic realm=\"t\""}));
        }
    });
    auto credentials = [](const char16_t* user, const char16_t* password) {
        return [user, password](HINTERNET request) {
            WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                                  user, password, nullptr);
        };
    };
    struct {
        const char* name;
        std::function<void(HINTERNET)> setup;
        DWORD status;
        std::string body;
    } cases[] = {
        {"no credentials", nullptr, 401, "who?"},
        {"right credentials", credentials(u"user", u"pw"), 200, "welcome"},
        {"wrong credentials", credentials(u"user", u"nope"), 401, "who?"},
    };
    for (const auto& row : cases) {
        Internet session = OpenSession();
        Answer answer = Fetch(session.get(), {"GET", server.Url("/"), {}, "", row.setup});
        ASSERT_TRUE(answer.bodyOk) << row.name << ": error " << answer.error;
        EXPECT_EQ(answer.status, row.status) << row.name;
        EXPECT_EQ(answer.body, row.body) << row.name;
    }
}

std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

// The value of `key` in a Digest Authorization header (key="value" or key=value).
std::string DigestField(const std::string& header, const std::string& key) {
    size_t at = header.find(key + "=");
    while (at != std::string::npos && at > 0 && header[at - 1] != ' ' && header[at - 1] != ',') {
        at = header.find(key + "=", at + 1);
    }
    if (at == std::string::npos) return "";
    size_t start = at + key.size() + 1;
    if (start < header.size() && header[start] == '"') {
        return header.substr(start + 1, header.find('"', start + 1) - start - 1);
    }
    return header.substr(start, header.find(',', start) - start);
}

TEST(WinHttpAuth, ServerDigestWithSetCredentials) {
    // RFC 7616 with qop=auth and MD5, checked by the server for user "user", password "pw".
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        std::string authorization = request.Header("Authorization");
        if (authorization.rfind("Digest ", 0) == 0) {
            std::string ha1 = Md5Hex("user:t:pw");
            std::string ha2 = Md5Hex(request.method + ":" + DigestField(authorization, "uri"));
            std::string expected = Md5Hex(ha1 + ":" + DigestField(authorization, "nonce") + ":" +
                                          DigestField(authorization, "nc") + ":" +
                                          DigestField(authorization, "cnonce") + ":auth:" + ha2);
            if (DigestField(authorization, "response") == expected) {
                c.Write(Response("200 OK", "digest welcome"));
                return;
            }
        }
        c.Write(Response("401 Unauthorized", "who?",
                         {"WWW-Authenticate: Digest realm=\"t\", nonce=\"n0nce\", qop=\"auth\""}));
    });
    Internet session = OpenSession();
    Answer answer = Fetch(session.get(), {"GET", server.Url("/d?x=1"), {}, "", [](HINTERNET r) {
                                              WinHttpSetCredentials(r, WINHTTP_AUTH_TARGET_SERVER,
                                                                    WINHTTP_AUTH_SCHEME_DIGEST,
                                                                    u"user", u"pw", nullptr);
                                          }});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.status, 200u);
    EXPECT_EQ(answer.body, "digest welcome");
    EXPECT_EQ(answer.rawHeaders.find("401"), std::string::npos);  // the challenge is not the answer
}

TEST(WinHttpTimeouts, SessionTimeoutsHoldForRequestsOpenedAfterwards) {
    TestServer server;
    server.Handle([](const Request&, Connection& c) { c.Stall(); });
    Internet session = OpenSession();
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 10000, 10000, 300));
    Internet connection(
        WinHttpConnect(session.get(), u"127.0.0.1", INTERNET_PORT(server.Port()), 0));
    Internet request(
        WinHttpOpenRequest(connection.get(), u"GET", u"/", nullptr, nullptr, nullptr, 0));
    // Raising the session's limit now does not change the request already opened.
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 60000, 60000, 60000));
    ASSERT_TRUE(WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0));
    EXPECT_FALSE(WinHttpReceiveResponse(request.get(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_WINHTTP_TIMEOUT);
}

}  // namespace
