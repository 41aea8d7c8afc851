// The exact bytes a request puts on the wire. Host comes first, right after the request line
// (libcurl always writes it there, as RFC 9112 recommends); then the caller's headers in the order
// added, then User-Agent, Content-Length and Connection: Keep-Alive as WinHTTP adds them; nothing
// of libcurl's own (no Accept, Expect, Content-Type, chunked framing).
#include <gtest/gtest.h>

#include "tests/integration/winhttp/client.h"
#include "tests/support/test_server.h"

using namespace testclient;

namespace {

constexpr DWORD addFlag = WINHTTP_ADDREQ_FLAG_ADD;
constexpr DWORD addIfNewFlag = WINHTTP_ADDREQ_FLAG_ADD_IF_NEW;
constexpr DWORD replaceFlag = WINHTTP_ADDREQ_FLAG_REPLACE;
constexpr DWORD addOrReplace = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

std::string Fill(std::string text, int port) {
    const std::string marker = "{host}";
    for (size_t at; (at = text.find(marker)) != std::string::npos;) {
        text.replace(at, marker.size(), "127.0.0.1:" + std::to_string(port));
    }
    return text;
}

TEST(WinHttpWire, RequestsAreSentAsWinHttpSendsThem) {
    const std::string bigBody(2 * 1024 * 1024, 'x');
    struct {
        const char* name;
        std::string verb;
        std::string path;
        std::vector<std::pair<std::string, DWORD>> headers;
        std::string body;
        std::string expected;
    } cases[] = {
        {"plain GET",
         "GET",
         "/",
         {},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"path and query as given",
         "GET",
         "/a/b?x=1&y=%41",
         {},
         "",
         "GET /a/b?x=1&y=%41 HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"dot segments kept",
         "GET",
         "/a/../b",
         {},
         "",
         "GET /a/../b HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"POST without body has Content-Length 0",
         "POST",
         "/p",
         {},
         "",
         "POST /p HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Content-Length: 0\r\nConnection: Keep-Alive\r\n\r\n"},
        {"POST form: caller's headers first, in order",
         "POST",
         "/form",
         {{"Content-Type:application/x-www-form-urlencoded", addOrReplace},
          {"Accept:*/*", addIfNewFlag},
          {"Accept-Language:zh-cn", addIfNewFlag}},
         "image=abc",
         "POST /form HTTP/1.1\r\nHost: {host}\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\n"
         "Accept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: TestAgent/1.0\r\n"
         "Content-Length: 9\r\nConnection: Keep-Alive\r\n\r\nimage=abc"},
        {"GET with a body",
         "GET",
         "/g",
         {},
         "data",
         "GET /g HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Content-Length: 4\r\nConnection: Keep-Alive\r\n\r\ndata"},
        {"PUT with a body",
         "PUT",
         "/put",
         {},
         "{}",
         "PUT /put HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Content-Length: 2\r\nConnection: Keep-Alive\r\n\r\n{}"},
        {"DELETE without body",
         "DELETE",
         "/d",
         {},
         "",
         "DELETE /d HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"HEAD",
         "HEAD",
         "/h",
         {},
         "",
         "HEAD /h HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"several lines in one call",
         "GET",
         "/",
         {{"A:1\r\nB: 2\r\nc:3", addFlag}},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nA: 1\r\nB: 2\r\nc: 3\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"ADD_IF_NEW keeps the first",
         "GET",
         "/",
         {{"X-A:first", addFlag}, {"x-a:second", addIfNewFlag}},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nX-A: first\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"ADD|REPLACE replaces in place",
         "GET",
         "/",
         {{"X-A:1", addFlag}, {"X-B:2", addFlag}, {"x-a:3", addOrReplace}},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nX-A: 3\r\nX-B: 2\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"REPLACE with an empty value removes",
         "GET",
         "/",
         {{"X-A:1", addFlag}, {"X-B:2", addFlag}, {"X-A:", replaceFlag}},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nX-B: 2\r\nUser-Agent: TestAgent/1.0\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"caller's User-Agent and Connection win",
         "GET",
         "/",
         {{"User-Agent:Mine", addFlag}, {"Connection:close", addFlag}},
         "",
         "GET / HTTP/1.1\r\nHost: {host}\r\nUser-Agent: Mine\r\nConnection: close\r\n\r\n"},
        {"2 MiB POST: no Expect, no chunks",
         "POST",
         "/big",
         {},
         bigBody,
         "POST /big HTTP/1.1\r\nHost: {host}\r\nUser-Agent: TestAgent/1.0\r\n"
         "Content-Length: 2097152\r\nConnection: Keep-Alive\r\n\r\n" +
             bigBody},
    };
    for (const auto& row : cases) {
        testsupport::TestServer server;
        Internet session = OpenSession();
        Answer answer =
            Fetch(session.get(), {row.verb, server.Url(row.path), row.headers, row.body, nullptr});
        ASSERT_TRUE(answer.received) << row.name << ": error " << answer.error;
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << row.name;
        EXPECT_EQ(requests[0].raw, Fill(row.expected, server.Port())) << row.name;
    }
}

TEST(WinHttpWire, EmptyAgentSendsNoUserAgent) {
    testsupport::TestServer server;
    Internet session = OpenSession(u"");
    Answer answer = Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr});
    ASSERT_TRUE(answer.received) << answer.error;
    EXPECT_EQ(
        server.Requests().at(0).raw,
        Fill("GET / HTTP/1.1\r\nHost: {host}\r\nConnection: Keep-Alive\r\n\r\n", server.Port()));
}

TEST(WinHttpHeaders, AddRequestHeadersReportsConflicts) {
    Internet session = OpenSession();
    Internet connection(WinHttpConnect(session.get(), u"127.0.0.1", 80, 0));
    Internet request(
        WinHttpOpenRequest(connection.get(), u"GET", u"/", nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(request);
    struct {
        const char* line;
        DWORD flags;
        BOOL ok;
        DWORD error;
    } cases[] = {
        {"X-A:1", addFlag, TRUE, 0},
        {"x-a:2", addIfNewFlag, FALSE, ERROR_WINHTTP_HEADER_ALREADY_EXISTS},
        {"X-Missing:", replaceFlag, FALSE, ERROR_WINHTTP_HEADER_NOT_FOUND},
        {"X-Missing:v", replaceFlag, FALSE, ERROR_WINHTTP_HEADER_NOT_FOUND},
        {"X-A:3", replaceFlag, TRUE, 0},
        {"X-A:", replaceFlag, TRUE, 0},
        {"X-A:", replaceFlag, FALSE, ERROR_WINHTTP_HEADER_NOT_FOUND},
        {"X-New:1", addOrReplace, TRUE, 0},
        {"no colon here", addFlag, FALSE, ERROR_INVALID_PARAMETER},
    };
    for (const auto& row : cases) {
        std::u16string line = W(row.line);
        SetLastError(0);
        BOOL ok =
            WinHttpAddRequestHeaders(request.get(), line.c_str(), DWORD(line.size()), row.flags);
        EXPECT_EQ(ok, row.ok) << row.line << " flags " << std::hex << row.flags;
        if (!row.ok) {
            EXPECT_EQ(GetLastError(), row.error) << row.line;
        }
    }
}

}  // namespace
