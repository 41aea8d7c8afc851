// SetProxy and SetCredentials: options and credentials handed to WinHTTP.
#include "session_fixture.h"

TEST_F(SessionTest, ProxyWithoutServerSetsNoProxy) {
    for (const char* server : {"", static_cast<const char*>(nullptr)}) {
        world.proxies.clear();
        EXPECT_NE(server ? session.SetProxy(server, "u", "p") : session.SetProxy(), 0);
        ASSERT_EQ(world.proxies.size(), 1u);
        EXPECT_EQ(world.proxies[0].accessType, WINHTTP_ACCESS_TYPE_NO_PROXY);
        EXPECT_EQ(world.proxies[0].proxy, u"");
        EXPECT_EQ(world.options.back().handle, session.sessionHandle);
        EXPECT_EQ(world.options.back().length, sizeof(WINHTTP_PROXY_INFO));
        EXPECT_EQ(session.proxyCredentialsPending, 0);
    }
}

TEST_F(SessionTest, ProxyCredentialsWaitForTheNextRequestOnly) {
    EXPECT_NE(session.SetProxy("127.0.0.1:3128", "user", "secret"), 0);
    ASSERT_EQ(world.proxies.size(), 1u);
    EXPECT_EQ(world.proxies[0].accessType, WINHTTP_ACCESS_TYPE_NAMED_PROXY);
    EXPECT_EQ(world.proxies[0].proxy, u"127.0.0.1:3128");
    EXPECT_TRUE(world.proxies[0].bypassNull);
    EXPECT_EQ(session.proxyCredentialsPending, 1);

    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    world.options.clear();
    ASSERT_TRUE(session.Send());
    ASSERT_GE(world.options.size(), 2u);
    EXPECT_EQ(world.options[0].option, WINHTTP_OPTION_PROXY_USERNAME);
    EXPECT_EQ(world.options[0].Text(), u"user");
    EXPECT_EQ(world.options[0].length, 4u);  // characters
    EXPECT_EQ(world.options[1].option, WINHTTP_OPTION_PROXY_PASSWORD);
    EXPECT_EQ(world.options[1].Text(), u"secret");
    EXPECT_EQ(world.options[1].length, 6u);
    EXPECT_EQ(session.proxyCredentialsPending, 0);
    EXPECT_EQ(S(session.proxyUser), "");

    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    world.options.clear();
    ASSERT_TRUE(session.Send());
    for (const auto& o : world.options)
        EXPECT_NE(o.option, WINHTTP_OPTION_PROXY_USERNAME);
}

TEST_F(SessionTest, ProxyCredentialsGoToTheOpenRequestAtOnce) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_NE(session.SetProxy("proxy.test:8080", "u", ""), 0);
    EXPECT_EQ(session.proxyCredentialsPending, 0);
    ASSERT_EQ(world.options.size(), 3u);
    EXPECT_EQ(world.options[0].handle, session.requestHandle);
    EXPECT_EQ(world.options[0].Text(), u"u");
    EXPECT_EQ(world.options[1].option, WINHTTP_OPTION_PROXY_PASSWORD);
    EXPECT_EQ(world.options[1].length, 0u);  // handed over even when empty
    EXPECT_EQ(world.options[2].option, WINHTTP_OPTION_PROXY);
}

TEST_F(SessionTest, ProxyAfterCloseKeepsNothing) {
    session.Close();
    EXPECT_EQ(session.SetProxy("p.test:1", "u", "p"), 0);
    EXPECT_EQ(session.proxyCredentialsPending, 0);
    EXPECT_EQ(S(session.proxyUser), "");
    EXPECT_TRUE(world.options.empty());
}

TEST_F(SessionTest, Credentials) {
    EXPECT_EQ(session.SetCredentials("u", "p"), 0);
    EXPECT_TRUE(world.credentials.empty());
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_NE(session.SetCredentials("user", "pass"), 0);
    ASSERT_EQ(world.credentials.size(), 1u);
    EXPECT_EQ(world.credentials[0].request, session.requestHandle);
    EXPECT_EQ(world.credentials[0].target, WINHTTP_AUTH_TARGET_SERVER);
    EXPECT_EQ(world.credentials[0].scheme, WINHTTP_AUTH_SCHEME_BASIC);
    EXPECT_EQ(world.credentials[0].user, u"user");
    EXPECT_EQ(world.credentials[0].password, u"pass");
    EXPECT_TRUE(world.credentials[0].paramsNull);
    session.SetCredentials("u", "p", WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_DIGEST);
    EXPECT_EQ(world.credentials[1].target, 1u);
    EXPECT_EQ(world.credentials[1].scheme, 8u);
}
