// The response getters on real header blocks, and the status queries.
#include "session_fixture.h"

namespace {
// An answer as a server sends it, with the header block WinHTTP gives for it.
const char nginxBlock[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: nginx/1.22.1\r\n"
    "Date: Fri, 11 Dec 2026 10:00:00 GMT\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "Content-Length: 1024\r\n"
    "Connection: keep-alive\r\n"
    "Set-Cookie: a=1; path=/\r\n"
    "set-cookie: b=2; HttpOnly\r\n"
    "Set-Cookie: c=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"
    "X-Twice: first\r\n"
    "X-Twice: second\r\n"
    "X-Padded: abc  \r\n"
    "X-Tab:\tv\r\n"
    "\r\n";
}  // namespace

TEST_F(SessionTest, ResponseHeaderOnARealBlock) {
    session.responseHeaders = nginxBlock;
    struct {
        const char* name;
        const char* value;
    } cases[] = {
        {"content-type", "text/html; charset=utf-8"},
        {"CONTENT-LENGTH", "1024"},
        {"X-Twice", "first"},     // first line wins
        {"X-Padded", "abc  "},    // trailing blanks stay
        {"X-Tab", "\tv"},         // tabs are not blanks
        {"HTTP/1.1 200 OK", ""},  // never the status line
        {"HTTP/1.1 200", ""},
        {"Length", ""},  // whole names only
        {"Content", ""},
        {"Missing", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(S(session.GetResponseHeader(c.name)), c.value) << c.name;
    }
    EXPECT_EQ(S(session.GetAllResponseHeaders()), nginxBlock);
}

TEST_F(SessionTest, ResponseCookiesOnRealBlocks) {
    struct {
        const char* block;
        const char* cookies;
    } cases[] = {
        {nginxBlock, "a=1; b=2"},
        {"HTTP/1.1 200 OK\r\nX: y\r\n\r\n", ""},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: c=deleted; path=/\r\nSet-Cookie: d=DELETED;\r\n\r\n", ""},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: c=DeLeTeD; path=/\r\n\r\n", "c=DeLeTeD"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: secure;\r\nSet-Cookie: e=5;\r\n\r\n", "secure; e=5"},
        // A line without ";" ends at its line end; the lines after it are still read.
        {"HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nX-A: b; c\r\nSet-Cookie: t=2; path=/\r\n\r\n",
         "s=1; t=2"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n\r\n", "s=1"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: only=1", "only=1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        session.responseHeaders = c.block;
        EXPECT_EQ(S(session.GetResponseCookies()), c.cookies) << c.block;
    }
}

TEST_F(SessionTest, ResponseCookieByName) {
    struct {
        const char* block;
        const char* name;
        const char* value;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nSet-Cookie: sid=xyz; path=/\r\n\r\n", "SID", "xyz"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: sid=xyz; path=/\r\n\r\n", "id", ""},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: sid=xyz; path=/\r\n\r\n", "path", ""},
        {"HTTP/1.1 200 OK\r\nSet-Cookie:sid=tight; path=/\r\n\r\n", "sid", "tight"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: sid= spaced ;\r\n\r\n", "sid", " spaced "},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: sid=bare\r\nX-A: b; c\r\n\r\n", "sid", "bare"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=deleted;\r\nSet-Cookie: a=2;\r\n\r\n", "a", "deleted"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=end", "a", "end"},
        {"", "a", ""},
    };
    for (const auto& c : cases) {
        session.responseHeaders = c.block;
        EXPECT_EQ(S(session.GetResponseCookie(c.name)), c.value) << c.block << " / " << c.name;
    }
}

TEST_F(SessionTest, StatusIsAskedForOnEveryCall) {
    EXPECT_EQ(session.GetStatus(), 0);
    EXPECT_EQ(S(session.GetStatusText()), "");
    world.answer.statusCode = u"404";
    world.answer.statusText = u"Not Found";
    ASSERT_TRUE(Fetch("Content-Length: 0"));
    EXPECT_EQ(session.GetStatus(), 404);
    EXPECT_EQ(S(session.GetStatusText()), "Not Found");
}

TEST_F(SessionTest, ResponseTextConvertsFromUtf8AndRawTextStopsAtZero) {
    ASSERT_TRUE(Fetch("", "\xE4\xB8\xAD\x00tail"));  // the literal stops at the NUL
    EXPECT_EQ(S(session.GetResponseText()), "\xD6\xD0");
    world.answer.body = std::string("a\0b", 3);
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseRawText()), "a");
    EXPECT_EQ(session.GetResponseBody().size(), 3);
}
