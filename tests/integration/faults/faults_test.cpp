// Fault injection against real sockets: each row of the table makes the test server (or the
// network) misbehave in one way, states what the session must give for it, and then checks that
// the same session still fetches a good answer afterwards.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "http/session.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_proxy.h"
#include "tests/support/test_server.h"
#include "tests/support/text_helpers.h"

using testsupport::Connection;
using testsupport::Request;
using testsupport::Response;
using testsupport::TestServer;

namespace {

// Trusts a test CA through SSL_CERT_FILE while it lives.
class TrustedCa {
  public:
    TrustedCa() {
        path = std::filesystem::temp_directory_path() /
               ("faults-test-ca-" + std::to_string(::getpid()) + ".pem");
        ca.WriteCertificate(path.string());
        if (const char* old = std::getenv("SSL_CERT_FILE")) previous = old;
        ::setenv("SSL_CERT_FILE", path.c_str(), 1);
    }
    ~TrustedCa() {
        if (previous)
            ::setenv("SSL_CERT_FILE", previous->c_str(), 1);
        else
            ::unsetenv("SSL_CERT_FILE");
        std::filesystem::remove(path);
    }
    TestServer::Tls Certificate(const std::vector<std::string>& names, int from = -1,
                                int until = 30) const {
        const auto issued = ca.Issue(names, from, until);
        return {issued.certificatePem, issued.keyPem};
    }

  private:
    testsupport::TestCa ca;
    std::filesystem::path path;
    std::optional<std::string> previous;
};

// What the session shows after the faulty exchange.
struct Outcome {
    bool sent;                 // Send's result
    int status;                // GetStatus
    std::string bodyPrefixOf;  // the body must be a prefix of this ("" and sent: empty body)
    bool wholeBody;            // ... and all of it
};

// The same session fetches a good answer: nothing the fault left behind is in the way.
void ExpectUsable(HttpSession& session, const TestServer& good, const std::string& fault) {
    session.SetTimeouts();
    ASSERT_TRUE(session.Open("GET", good.Url("/after").c_str())) << fault;
    ASSERT_TRUE(session.Send()) << fault;
    EXPECT_EQ(session.GetStatus(), 200) << fault;
    EXPECT_EQ(S(session.GetResponseText()), "ok") << fault;
}

void ExpectOutcome(HttpSession& session, bool sent, const Outcome& want, const std::string& fault) {
    EXPECT_EQ(sent, want.sent) << fault;
    EXPECT_EQ(session.GetStatus(), want.status) << fault;
    const std::string body = S(session.GetResponseBody());
    EXPECT_EQ(want.bodyPrefixOf.compare(0, body.size(), body), 0)
        << fault << ": body " << body.size() << " bytes, not a prefix of what was sent";
    if (want.wholeBody) {
        EXPECT_EQ(body, want.bodyPrefixOf) << fault;
    } else {
        EXPECT_LT(body.size(), want.bodyPrefixOf.size() + (want.bodyPrefixOf.empty() ? 1 : 0))
            << fault << ": a cut body came out whole";
    }
}

const std::string halfBody(500, 'h');
const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(Faults, TheSessionSurvivesEachAndStaysUsable) {
    TestServer good;
    struct {
        const char* fault;
        std::function<void(const Request&, Connection&)> server;
        Outcome want;
        int receiveTimeout = HttpSession::defaultReceiveTimeout;
    } cases[] = {
        {"reset during the headers",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Le");
             c.Reset();
         },
         {false, 0, "", true}},
        {"reset halfway through the body",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + halfBody);
             c.Sleep(200);
             c.Reset();
         },
         {true, 200, halfBody + std::string(500, 'x'), false}},
        {"body shorter than its Content-Length",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
             c.Close();
         },
         {true, 200, "0123456789" + std::string(90, 'x'), false}},
        {"malformed status line",
         [](const Request&, Connection& c) {
             c.Write("HTXP/1.1 two hundred\r\nContent-Length: 2\r\n\r\nok");
             c.Close();
         },
         {false, 0, "", true}},
        {"1 MB header block",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'b') +
                     "\r\nContent-Length: 2\r\n\r\nok");
             c.Close();
         },
         {false, 0, "", true}},
        {"chunked body with a bad chunk size",
         [](const Request&, Connection& c) {
             c.Write(chunkedHead + "5\r\nhello\r\nZZ\r\nworld\r\n0\r\n\r\n");
             c.Close();
         },
         {true, 200, "helloworld", false}},
        {"server that stops sending",
         [](const Request&, Connection& c) {
             c.Write("HTTP/1.1 200 OK\r\nContent-");
             c.Stall();
         },
         {false, 0, "", true},
         1000},
    };
    for (const auto& row : cases) {
        HttpSession session;
        {
            TestServer bad;
            bad.Handle(row.server);
            session.SetTimeouts(HttpSession::defaultResolveTimeout,
                                HttpSession::defaultConnectTimeout, HttpSession::defaultSendTimeout,
                                row.receiveTimeout);
            ASSERT_TRUE(session.Open("GET", bad.Url("/fault").c_str())) << row.fault;
            const bool sent = session.Send();
            ExpectOutcome(session, sent, row.want, row.fault);
        }  // the bad server goes first, ending a stalled answer
        ExpectUsable(session, good, row.fault);
    }
}

TEST(Faults, ConnectionRefusedFailsEveryAttempt) {
    TestServer good;
    HttpSession session;
    const int closedPort = testsupport::FreePort();
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
    ASSERT_TRUE(session.Open("GET", url.c_str()));
    EXPECT_FALSE(session.Send(Text(), 0, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_EQ(session.GetStatus(), 0);
    EXPECT_EQ(S(session.GetAllResponseHeaders()), "");
    ExpectUsable(session, good, "connection refused");
}

TEST(Faults, InvalidUtf8InTheBodyBecomesQuestionMarks) {
    TestServer good;
    TestServer server;
    server.Reply(Response("200 OK", "\xFF\xFE abc \xC3"));
    HttpSession session;
    ASSERT_TRUE(session.Open("GET", server.Url("/").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseText()), "?? abc ?");
    EXPECT_EQ(S(session.GetResponseRawText()), "\xFF\xFE abc \xC3");
    ExpectUsable(session, good, "invalid UTF-8");
}

// Serves /hop/N with a redirect to /hop/N+1 up to `last`, or /loop back to itself.
void RedirectChain(TestServer& server, int last) {
    server.Handle([last](const Request& request, Connection& c) {
        if (request.target == "/after") {
            c.Write(Response("200 OK", "ok"));
            return;
        }
        if (request.target == "/loop") {
            c.Write(Response("302 Found", "", {"Location: /loop"}));
            return;
        }
        const int hop = std::atoi(request.target.c_str() + 5);
        if (hop >= last) {
            c.Write(Response("200 OK", "end"));
            return;
        }
        c.Write(Response("302 Found", "", {"Location: /hop/" + std::to_string(hop + 1)}));
    });
}

TEST(Faults, RedirectChainsStopAfterTwentyHops) {
    struct {
        const char* fault;
        const char* path;
    } cases[] = {
        {"25-step redirect chain", "/hop/0"},
        {"redirect loop", "/loop"},
    };
    for (const auto& row : cases) {
        TestServer server;
        RedirectChain(server, 25);
        HttpSession session;
        session.SetCookieMode(1);
        ASSERT_TRUE(session.Open("GET", server.Url(row.path).c_str())) << row.fault;
        EXPECT_TRUE(session.Send()) << row.fault;
        // The first request and 20 redirects; the answer asking for the 21st stays.
        EXPECT_EQ(server.Requests().size(), 21u) << row.fault;
        EXPECT_EQ(session.GetStatus(), 302) << row.fault;
        EXPECT_EQ(session.redirectCount, 0) << row.fault;
        ExpectUsable(session, server, row.fault);
    }
}

TEST(Faults, BadCertificatesFailOnceTheOverrideIsSpent) {
    TrustedCa ca;
    TestServer good;
    struct {
        const char* fault;
        TestServer::Tls tls;
    } cases[] = {
        {"expired certificate", ca.Certificate({"localhost", "127.0.0.1"}, -30, -1)},
        {"wrong-host certificate", ca.Certificate({"wrong.example"})},
    };
    for (const auto& row : cases) {
        TestServer server(row.tls);
        HttpSession session;
        session.SetIgnoreCertErrors(1);
        ASSERT_TRUE(session.Open("GET", server.Url("/").c_str())) << row.fault;
        EXPECT_TRUE(session.Send()) << row.fault << ": the override lets the first one through";
        EXPECT_EQ(S(session.GetResponseText()), "ok") << row.fault;
        ASSERT_TRUE(session.Open("GET", server.Url("/").c_str())) << row.fault;
        EXPECT_FALSE(session.Send()) << row.fault << ": the override is spent";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE)) << row.fault;
        EXPECT_EQ(session.GetStatus(), 0) << row.fault;
        ExpectUsable(session, good, row.fault);
    }
}

// tinyproxy answers wrong credentials with 401 and missing ones with 407; the session shows
// the proxy's answer as the answer, and goes on without the proxy afterwards.
TEST(Faults, ProxyRefusingTheCredentialsGivesItsAnswer) {
    testsupport::TinyProxy proxy("user", "secret");
    if (!proxy.Running()) GTEST_SKIP() << "tinyproxy not installed";
    TestServer good;
    struct {
        const char* fault;
        const char* password;
        int status;
    } cases[] = {
        {"proxy refusing a wrong password", "wrong", 401},
        {"proxy refusing no credentials", "", 407},
    };
    for (const auto& row : cases) {
        HttpSession session;
        session.SetProxy(proxy.Address().c_str(), *row.password ? "user" : "", row.password);
        const size_t served = good.Requests().size();
        ASSERT_TRUE(session.Open("GET", good.Url("/through").c_str())) << row.fault;
        EXPECT_TRUE(session.Send()) << row.fault;
        EXPECT_EQ(session.GetStatus(), row.status) << row.fault;
        EXPECT_EQ(good.Requests().size(), served) << row.fault << ": the proxy let it through";
        session.SetProxy();
        ExpectUsable(session, good, row.fault);
    }
}

}  // namespace
