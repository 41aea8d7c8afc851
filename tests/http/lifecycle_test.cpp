// Construction, Close, Reset and the session-wide settings, seen through the recording fake.
#include "session_fixture.h"

TEST_F(SessionTest, ConstructionOpensWithDefaultAgentBufferAndTimeouts) {
    ASSERT_EQ(world.opens.size(), 1u);
    EXPECT_EQ(world.opens[0].agent, u"Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)");
    EXPECT_EQ(world.opens[0].accessType, WINHTTP_ACCESS_TYPE_NO_PROXY);
    EXPECT_TRUE(world.opens[0].proxyNull);
    EXPECT_TRUE(world.opens[0].bypassNull);
    EXPECT_EQ(world.opens[0].flags, 0u);
    EXPECT_EQ(world.allocSizes, std::vector<SIZE_T>{10240});
    ASSERT_EQ(world.timeouts.size(), 1u);
    EXPECT_EQ(world.timeouts[0].resolve, 10000);
    EXPECT_EQ(world.timeouts[0].connect, 15000);
    EXPECT_EQ(world.timeouts[0].send, 120000);
    EXPECT_EQ(world.timeouts[0].receive, 300000);
    EXPECT_EQ(processHeap, GetProcessHeap());

    EXPECT_NE(session.sessionHandle, nullptr);
    EXPECT_EQ(session.connectHandle, nullptr);
    EXPECT_EQ(session.requestHandle, nullptr);
    EXPECT_EQ(session.defaultHeadersEnabled, 1);
    EXPECT_EQ(session.cookieMode, 0);
    EXPECT_EQ(S(session.cookieStore), "; ");
    EXPECT_EQ(session.cookieStoreLength, 2);
    EXPECT_EQ(session.ignoreCertErrorsPending, 1);
    EXPECT_EQ(session.contentLength, 0);
}

TEST_F(SessionTest, ResetWithAgentGivenAndEmpty) {
    session.Reset("Agent/1");
    EXPECT_EQ(world.opens.back().agent, u"Agent/1");
    session.Reset(Text());
    EXPECT_EQ(world.opens.back().agent, u"");
    session.Reset();
    EXPECT_EQ(world.opens.back().agent, u"Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)");
}

TEST_F(SessionTest, DestructorClosesHandlesAndFreesTheBuffer) {
    {
        HttpSession other;
        ASSERT_TRUE(other.Open("GET", "http://a.test/"));
        EXPECT_EQ(world.liveBlocks, 2);
    }
    EXPECT_EQ(world.liveBlocks, 1);
}

TEST_F(SessionTest, CloseReleasesInOrderAndKeepsSettings) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/x"));
    HINTERNET request = session.requestHandle, connect = session.connectHandle,
              sessionHandle = session.sessionHandle;
    session.SetCookieMode(1);
    session.MergeCookies("a=1");
    session.SetFollowRedirects(0);
    session.Close();
    EXPECT_EQ(world.closed, (std::vector<HINTERNET>{request, connect, sessionHandle}));
    EXPECT_EQ(world.liveBlocks, 0);
    EXPECT_EQ(session.sessionHandle, nullptr);
    EXPECT_EQ(session.receiveBuffer, nullptr);
    EXPECT_EQ(session.redirectsDisabled, 0);
    EXPECT_EQ(S(session.url), "");
    EXPECT_EQ(S(session.host), "");
    EXPECT_EQ(session.cookieMode, 1);
    EXPECT_EQ(S(session.Cookies()), "a=1");

    session.Close();  // nothing left to close
    EXPECT_EQ(world.closed.size(), 3u);
    EXPECT_EQ(world.frees, 1);
    EXPECT_FALSE(session.Open("GET", "http://a.test/"));
    EXPECT_FALSE(session.SetTimeouts());
    EXPECT_FALSE(session.SetOption(0, WINHTTP_OPTION_DISABLE_FEATURE, 1, 4));
}

TEST_F(SessionTest, ResetRestoresDefaultsButNotRedirectCount) {
    session.SetCookieMode(2);
    session.MergeCookies("a=1");
    session.SetDefaultHeaders(0);
    session.SetIgnoreCertErrors(0);
    session.redirectCount = 3;
    session.Reset();
    EXPECT_EQ(session.cookieMode, 0);
    EXPECT_EQ(S(session.cookieStore), "; ");
    EXPECT_EQ(session.defaultHeadersEnabled, 1);
    EXPECT_EQ(session.ignoreCertErrorsPending, 1);
    EXPECT_EQ(session.redirectCount, 3);
    EXPECT_EQ(world.liveBlocks, 1);
}

TEST_F(SessionTest, OpenSessionOnAnOpenSessionReleasesTheOldHandlesAndBuffer) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    HINTERNET old = session.sessionHandle;
    session.OpenSession();
    EXPECT_EQ(world.closed.size(), 3u);
    EXPECT_EQ(world.closed.back(), old);
    EXPECT_EQ(world.liveBlocks, 1);
    EXPECT_NE(session.sessionHandle, old);
    EXPECT_EQ(session.requestHandle, nullptr);
}

TEST_F(SessionTest, SetCookieMode) {
    struct {
        std::optional<int> mode;
        int stored;
    } cases[] = {{std::nullopt, 1}, {0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}};
    for (const auto& c : cases) {
        session.cookieMode = 7;
        if (c.mode)
            session.SetCookieMode(*c.mode);
        else
            session.SetCookieMode();
        EXPECT_EQ(session.cookieMode, c.stored) << "mode " << c.mode.value_or(-99);
    }
}

TEST_F(SessionTest, SetFollowRedirectsAndDefaultHeaders) {
    session.SetFollowRedirects(0);
    EXPECT_EQ(session.redirectsDisabled, 1);
    session.SetFollowRedirects();
    EXPECT_EQ(session.redirectsDisabled, 0);
    session.SetFollowRedirects(2);  // lowest bit 0: false
    EXPECT_EQ(session.redirectsDisabled, 1);
    session.SetFollowRedirects(1);
    EXPECT_EQ(session.redirectsDisabled, 0);

    session.SetDefaultHeaders(5);
    EXPECT_EQ(session.defaultHeadersEnabled, 5);
    session.SetDefaultHeaders();
    EXPECT_EQ(session.defaultHeadersEnabled, 1);
}

TEST_F(SessionTest, SetTimeoutsFillsDefaults) {
    EXPECT_TRUE(session.SetTimeouts(5000));
    const auto& t = world.timeouts.back();
    EXPECT_EQ(t.handle, session.sessionHandle);
    EXPECT_EQ(t.resolve, 5000);
    EXPECT_EQ(t.connect, 15000);
    EXPECT_EQ(t.send, 120000);
    EXPECT_EQ(t.receive, 300000);
}

TEST_F(SessionTest, SetOptionPicksTheHandle) {
    EXPECT_FALSE(session.SetOption(2, WINHTTP_OPTION_SECURITY_FLAGS, 0x3300, 4));
    EXPECT_FALSE(session.SetOption(1, WINHTTP_OPTION_SECURITY_FLAGS, 0x3300, 4));
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    struct {
        int kind;
        HINTERNET expected;
    } cases[] = {{1, session.connectHandle},
                 {2, session.requestHandle},
                 {0, session.sessionHandle},
                 {7, session.sessionHandle}};
    for (const auto& c : cases) {
        EXPECT_TRUE(session.SetOption(c.kind, 63, 2, 4)) << "kind " << c.kind;
        EXPECT_EQ(world.options.back().handle, c.expected) << "kind " << c.kind;
        EXPECT_EQ(world.options.back().Value(), 2u);
        EXPECT_EQ(world.options.back().length, 4u);
    }
    // More than the one integer would be read past it.
    EXPECT_FALSE(session.SetOption(0, 63, 2, 8));
}

TEST_F(SessionTest, HandleAccessorsTakeAGivenHandle) {
    HINTERNET given = reinterpret_cast<HINTERNET>(0x77);
    EXPECT_EQ(session.RequestHandle(), nullptr);
    EXPECT_EQ(session.RequestHandle(given), given);
    EXPECT_EQ(session.requestHandle, given);
    session.Close();
    EXPECT_EQ(world.closed.front(), given);
}

TEST_F(SessionTest, SetIgnoreCertErrors) {
    struct {
        int ignore;
        int pending;
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {-1, 0}};
    for (const auto& c : cases) {
        session.SetIgnoreCertErrors(c.ignore);
        EXPECT_EQ(session.ignoreCertErrorsPending, c.pending) << "ignore " << c.ignore;
    }
    session.SetIgnoreCertErrors(0);
    session.SetIgnoreCertErrors();
    EXPECT_EQ(session.ignoreCertErrorsPending, 1);
}
