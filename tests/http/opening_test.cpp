// Open, ApplyPendingOptions and AddDefaultHeaders: what they hand to WinHTTP.
#include "session_fixture.h"

TEST_F(SessionTest, OpenPutsASchemeInFrontWhereThereIsNone) {
    struct {
        const char* given;
        const char* opened;
    } cases[] = {
        {"example.test/a", "http://example.test/a"},
        {"a.test", "http://a.test"},  // shorter than 8 bytes
        {"http://a.test/x", "http://a.test/x"},
        {"HTTPS://A.test/x", "HTTPS://A.test/x"},  // case kept, scheme recognised
        {"Http://a.test/", "Http://a.test/"},
        {"ftp://a.test/f", "http://ftp://a.test/f"},  // any other scheme gets the prefix
        {"https:/a.test/x", "http://https:/a.test/x"},
    };
    for (const auto& c : cases) {
        session.Open("GET", c.given);
        EXPECT_EQ(S(session.url), c.opened) << c.given;
        EXPECT_EQ(world.crackedUrls.back(), fake::U16(c.opened)) << c.given;
    }
}

TEST_F(SessionTest, OpenSendsSchemeFlagsVerbAndPath) {
    struct {
        const char* method;
        const char* url;
        const char16_t* verb;
        const char16_t* path;
        DWORD flags;
        int isPost;
        int scheme;
    } cases[] = {
        {"", "http://a.test", u"GET", u"/", 0, 0, 1},
        {"post", "http://a.test/p?q=1&r=/s", u"POST", u"/p?q=1&r=/s", 0, 1, 1},
        {"PoSt", "HTTPS://a.test/x", u"POST", u"/x", WINHTTP_FLAG_SECURE, 1, 2},
        {"put", "https://a.test/", u"PUT", u"/", WINHTTP_FLAG_SECURE, 0, 2},
        {"posts", "http://a.test/", u"POSTS", u"/", 0, 0, 1},
        {"get", "http://a.test?x=1", u"GET", u"/?x=1", 0, 0, 1},  // empty path keeps its query
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(session.Open(c.method, c.url)) << c.url;
        const auto& r = world.requests.back();
        EXPECT_EQ(r.verb, c.verb) << c.method;
        EXPECT_EQ(r.path, c.path) << c.url;
        EXPECT_EQ(r.flags, c.flags) << c.url;
        EXPECT_TRUE(r.versionNull && r.referrerNull && r.acceptNull);
        EXPECT_EQ(r.connect, session.connectHandle);
        EXPECT_EQ(session.isPost, c.isPost) << c.method;
        EXPECT_EQ(session.scheme, c.scheme) << c.url;
    }
}

TEST_F(SessionTest, OpenKeepsTheConnectionWhileHostAndPortStay) {
    struct {
        const char* url;
        size_t connects;
    } cases[] = {
        {"http://a.test/1", 1},     {"http://a.test/2", 1},  // same host and port
        {"http://a.test:80/3", 1},                           // the same port written out
        {"http://A.test/4", 2},                              // other letter case: a new connection
        {"http://A.test:81/5", 3},                           // other port
        {"https://A.test:81/6", 3},                          // the scheme alone does not matter
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(session.Open("GET", c.url)) << c.url;
        EXPECT_EQ(world.connects.size(), c.connects) << c.url;
    }
    EXPECT_EQ(world.connects.back().host, u"A.test");
    EXPECT_EQ(world.connects.back().port, 81);
    EXPECT_EQ(S(session.host), "A.test");
    EXPECT_EQ(session.port, 81);
    // Each new connection closed the one before; each Open closed the request before.
    EXPECT_EQ(world.closed.size(), 5u + 2u);
}

TEST_F(SessionTest, OpenClearsTheAnswer) {
    ASSERT_TRUE(Fetch("Content-Length: 3\r\nX: y", "abc"));
    ASSERT_EQ(S(session.GetResponseBody()), "abc");
    ASSERT_TRUE(session.Open("GET", "http://example.test/next"));
    EXPECT_EQ(session.receivedLength, 0);
    EXPECT_EQ(session.contentLength, 0);
    EXPECT_EQ(S(session.GetAllResponseHeaders()), "");
    EXPECT_EQ(S(session.GetResponseHeader("X")), "");
    EXPECT_EQ(S(session.GetResponseBody()), "");
}

TEST_F(SessionTest, OpenWithAnUncrackableUrlLeavesThePreviousRequest) {
    ASSERT_TRUE(Fetch("X: y"));
    HINTERNET request = session.requestHandle;
    world.failCrack = true;
    EXPECT_FALSE(session.Open("GET", "http://bad.test/"));
    EXPECT_EQ(session.requestHandle, request);
    EXPECT_EQ(S(session.url), "http://bad.test/");
    EXPECT_EQ(S(session.GetResponseHeader("x")), "y");
}

TEST_F(SessionTest, OpenFailures) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    world.failConnect = true;
    EXPECT_FALSE(session.Open("GET", "http://b.test/"));
    EXPECT_EQ(session.requestHandle, nullptr);
    EXPECT_EQ(session.connectHandle, nullptr);
    EXPECT_EQ(S(session.host), "a.test");
    world.failConnect = false;
    EXPECT_TRUE(session.Open("GET", "http://a.test/"));  // connects anew
    EXPECT_EQ(world.connects.size(), 3u);

    world.failOpenRequest = true;
    EXPECT_FALSE(session.Open("GET", "http://a.test/"));
    EXPECT_EQ(session.requestHandle, nullptr);
    EXPECT_NE(session.connectHandle, nullptr);

    session.Close();
    world.failOpenRequest = false;
    EXPECT_FALSE(session.Open("GET", "http://a.test/"));
}

TEST_F(SessionTest, DefaultHeadersAreAddedIfNewWithTheirLengths) {
    struct {
        const char* method;
        const char* body;
        bool contentType;
    } cases[] = {{"GET", "", false}, {"GET", "x=1", true}, {"POST", "", true}, {"post", "b", true}};
    for (const auto& c : cases) {
        world.headers.clear();
        ASSERT_TRUE(session.Open(c.method, "http://a.test/"));
        ASSERT_TRUE(session.Send(c.body));
        std::vector<std::u16string> expected = {u"Accept:*/*", u"Accept-Language:zh-cn",
                                                u"Cache-Control:no-cache"};
        if (c.contentType) expected.push_back(u"Content-Type:application/x-www-form-urlencoded");
        EXPECT_EQ(fake::HeaderLines(WINHTTP_ADDREQ_FLAG_ADD_IF_NEW), expected)
            << c.method << " with body '" << c.body << "'";
        for (const auto& call : world.headers)
            EXPECT_EQ(call.length, call.lines.size());
    }
    world.headers.clear();
    session.SetDefaultHeaders(0);
    ASSERT_TRUE(session.Open("POST", "http://a.test/"));
    ASSERT_TRUE(session.Send("x"));
    EXPECT_TRUE(world.headers.empty());
}

TEST_F(SessionTest, PendingOptionsByModeAndTheOneShotCertificateOverride) {
    struct {
        int cookieMode;
        int follow;
        std::vector<DWORD> disabledFeatures;
    } cases[] = {
        {0, 1, {}},
        {0, 0, {WINHTTP_DISABLE_REDIRECTS}},
        {1, 1, {WINHTTP_DISABLE_REDIRECTS, WINHTTP_DISABLE_COOKIES}},
        {2, 1, {WINHTTP_DISABLE_REDIRECTS, WINHTTP_DISABLE_COOKIES}},
        {1, 0, {WINHTTP_DISABLE_REDIRECTS, WINHTTP_DISABLE_COOKIES}},
    };
    for (const auto& c : cases) {
        session.Reset();
        session.SetCookieMode(c.cookieMode);
        session.SetFollowRedirects(c.follow);
        world.options.clear();
        ASSERT_TRUE(session.Open("GET", "http://a.test/"));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(fake::OptionValues(WINHTTP_OPTION_DISABLE_FEATURE), c.disabledFeatures)
            << "mode " << c.cookieMode << " follow " << c.follow;
        EXPECT_EQ(fake::OptionValues(WINHTTP_OPTION_SECURITY_FLAGS), std::vector<DWORD>{0x3300});
        for (const auto& o : world.options)
            EXPECT_EQ(o.length, 4u);
        for (const auto& o : world.options)
            EXPECT_EQ(o.handle, session.requestHandle);

        // Spent: the second request is checked normally.
        world.options.clear();
        ASSERT_TRUE(session.Open("GET", "http://a.test/2"));
        ASSERT_TRUE(session.Send());
        EXPECT_TRUE(fake::OptionValues(WINHTTP_OPTION_SECURITY_FLAGS).empty());
    }
}

TEST_F(SessionTest, CertificateOverrideDisarmedByTheCaller) {
    session.SetIgnoreCertErrors(0);
    ASSERT_TRUE(session.Open("POST", "https://a.test/token"));
    ASSERT_TRUE(session.Send());
    EXPECT_TRUE(fake::OptionValues(WINHTTP_OPTION_SECURITY_FLAGS).empty());
    session.SetIgnoreCertErrors();
    ASSERT_TRUE(session.Open("POST", "https://a.test/token"));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(fake::OptionValues(WINHTTP_OPTION_SECURITY_FLAGS), std::vector<DWORD>{0x3300});
}
