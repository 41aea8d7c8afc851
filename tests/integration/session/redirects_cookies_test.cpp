// Redirects followed by the session itself, and cookies carried from hop to hop, through the
// real WinHTTP layer and WinINet cookie store.
#include <gtest/gtest.h>

#include <string>

#include "http/session.h"
#include "tests/support/test_server.h"
#include "tests/support/text_helpers.h"

using testsupport::Connection;
using testsupport::Request;
using testsupport::Response;
using testsupport::TestServer;

TEST(SessionRedirects, ChainOfTwentyFiveIsFollowedTwentyTimes) {
    TestServer server;
    // /r/N redirects to /r/N+1 up to /r/25.
    server.Handle([](const Request& request, Connection& c) {
        const int hop = std::stoi(request.target.substr(3));
        if (hop < 25) {
            c.Write(Response("302 Found", "", {"Location: /r/" + std::to_string(hop + 1)}));
        } else {
            c.Write(Response("200 OK", "end"));
        }
    });
    for (int mode : {1, 2}) {
        HttpSession session;
        session.SetCookieMode(mode);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(session.Open("GET", server.Url("/r/0").c_str()));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(server.Requests().size() - before, 21u) << "mode " << mode;
        EXPECT_EQ(server.Requests().back().target, "/r/20");
        EXPECT_EQ(session.GetStatus(), 302);
        EXPECT_EQ(S(session.GetRedirectLocation()), "/r/21");
        EXPECT_EQ(session.redirectCount, 0);

        // The next chain counts from 0 again and ends on an answer without Location.
        ASSERT_TRUE(session.Open("GET", server.Url("/r/10").c_str()));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(S(session.GetResponseText()), "end");
        EXPECT_EQ(session.redirectCount, 0);
    }
}

TEST(SessionRedirects, ModeZeroLeavesRedirectsToWinHttpAndDisabledFollowsNone) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/from") {
            c.Write(Response("302 Found", "", {"Location: /to"}));
        } else {
            c.Write(Response("200 OK", "arrived"));
        }
    });
    HttpSession session;
    ASSERT_TRUE(session.Open("GET", server.Url("/from").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseText()), "arrived");
    EXPECT_EQ(S(session.url), server.Url("/from"));  // WinHTTP followed; the session did not

    for (int mode : {0, 1, 2}) {
        session.SetCookieMode(mode);
        session.SetFollowRedirects(0);
        ASSERT_TRUE(session.Open("GET", server.Url("/from").c_str()));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(session.GetStatus(), 302) << "mode " << mode;
        EXPECT_EQ(S(session.GetRedirectLocation(1)),
                  "http://127.0.0.1:" + std::to_string(server.Port()) + "/to");
    }
}

TEST(SessionRedirects, CookiesOfARedirectAnswerGoToTheNextHop) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/login") {
            c.Write(Response(
                "302 Found", "",
                {"Set-Cookie: sid=42; path=/", "Set-Cookie: theme=dark", "Location: /home"}));
        } else {
            c.Write(Response("200 OK", "cookie:" + request.Header("Cookie")));
        }
    });
    for (int mode : {1, 2}) {
        HttpSession session;
        session.SetCookieMode(mode);
        ASSERT_TRUE(session.Open("POST", server.Url("/login").c_str()));
        ASSERT_TRUE(session.Send("user=a"));
        const Request hop = server.Requests().back();
        EXPECT_EQ(hop.target, "/home") << "mode " << mode;
        EXPECT_EQ(hop.method, "GET");
        const std::string cookie = hop.Header("Cookie");
        EXPECT_NE(cookie.find("sid=42"), std::string::npos) << "mode " << mode << ": " << cookie;
        EXPECT_NE(cookie.find("theme=dark"), std::string::npos)
            << "mode " << mode << ": " << cookie;
        EXPECT_EQ(hop.HeaderCount("Cookie"), 1) << hop.head;
        if (mode == 1) {
            EXPECT_EQ(S(session.Cookies()), "sid=42; theme=dark");
        }
    }
}

TEST(SessionRedirects, OwnCookieStoreAcrossRequestsAndDeletion) {
    TestServer server;
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/set") {
            c.Write(Response("200 OK", "", {"Set-Cookie: a=1; path=/", "Set-Cookie: b=2; path=/"}));
        } else if (request.target == "/drop") {
            c.Write(Response("200 OK", "",
                             {"Set-Cookie: a=deleted; expires=Thu, 01 Jan 1970 00:00:01 GMT"}));
        } else {
            c.Write(Response("200 OK", request.Header("Cookie")));
        }
    });
    HttpSession session;
    session.SetCookieMode();
    for (const char* path : {"/set", "/echo", "/drop", "/echo"}) {
        ASSERT_TRUE(session.Open("GET", server.Url(path).c_str()));
        ASSERT_TRUE(session.Send());
    }
    const auto requests = server.Requests();
    EXPECT_EQ(requests[1].Header("Cookie"), "a=1; b=2");
    EXPECT_EQ(requests[3].Header("Cookie"), "b=2");
    // A caller's cookies join the store and go out with it.
    EXPECT_EQ(session.SetCookieHeader("c=3"), 1);
    ASSERT_TRUE(session.Open("GET", server.Url("/echo").c_str()));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(S(session.GetResponseText()), "b=2; c=3");
}
