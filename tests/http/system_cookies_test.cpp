// The system cookie store: what is filed under which URL, and the Cookie header it gives.
#include "session_fixture.h"

namespace {
std::vector<std::string> Filed(const fake::World& world) {
    std::vector<std::string> filed;
    for (const auto& c : world.cookiesSet)
        filed.push_back(c.url + " " + c.name + "=[" + c.data + "]");
    return filed;
}
}  // namespace

TEST_F(SessionTest, ResponseCookiesFiledInTheSystemStore) {
    struct {
        const char* lines;
        int keep;
        std::vector<std::string> filed;
    } cases[] = {
        {"Set-Cookie: a=1; path=/\r\nSet-Cookie: b=deleted; path=/",
         0,
         {"http://a.test/x a=[1]", "http://a.test/x b=[]"}},
        {"Set-Cookie: a=1; path=/\r\nSet-Cookie: b=deleted; path=/", 1, {"http://a.test/x a=[1]"}},
        {"Set-Cookie: c= ; path=/", 1, {}},
        {"Set-Cookie: c= ; path=/", 0, {"http://a.test/x c=[ ]"}},
        {"Set-Cookie: flag; path=/", 0, {}},
        {"Set-Cookie: s=bare\r\nSet-Cookie: t=2;",
         0,
         {"http://a.test/x s=[bare]", "http://a.test/x t=[2]"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(session.Open("GET", "a.test/x"));
        world.cookiesSet.clear();
        session.responseHeaders = Text(fake::Narrow(RawHeaders(c.lines)));
        session.StoreResponseCookiesInSystem(c.keep);
        EXPECT_EQ(Filed(world), c.filed) << c.lines << " keep " << c.keep;
    }
}

TEST_F(SessionTest, StoreCookiesInSystem) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_TRUE(session.StoreCookiesInSystem("x=1; y=2 "));
    EXPECT_EQ(Filed(world),
              (std::vector<std::string>{"http://a.test/ x=[1]", "http://a.test/ y=[2 ]"}));
    world.cookiesSet.clear();
    EXPECT_FALSE(session.StoreCookiesInSystem("flag"));
    EXPECT_FALSE(session.StoreCookiesInSystem(""));
    EXPECT_TRUE(world.cookiesSet.empty());
}

TEST_F(SessionTest, SystemCookieHeader) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_FALSE(session.AttachSystemCookieHeader());
    EXPECT_TRUE(world.headers.empty());
    world.systemCookieText["http://a.test/"] = "a=1; b=2";
    EXPECT_TRUE(session.AttachSystemCookieHeader());
    EXPECT_EQ(world.headers.back().lines, u"Cookie:a=1; b=2");
    EXPECT_EQ(world.headers.back().length, 15u);
    EXPECT_EQ(world.headers.back().flags, 0xA0000000u);
}

TEST_F(SessionTest, RedirectHopsFileAndSendCookiesUnderTheirOwnUrl) {
    session.SetCookieMode(2);
    fake::Answer redirect;
    redirect.rawHeaders = RawHeaders("Set-Cookie: sid=7; path=/\r\nLocation: http://b.test/next",
                                     "HTTP/1.1 302 Found");
    world.answers = {redirect};
    world.systemCookieText["http://b.test/next"] = "sid=7";
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(Filed(world), std::vector<std::string>{"http://a.test/ sid=[7]"});
    // Sizing call only where the store has nothing; sizing and reading call for the next hop.
    EXPECT_EQ(
        world.cookieUrlsAsked,
        (std::vector<std::string>{"http://a.test/", "http://b.test/next", "http://b.test/next"}));
    EXPECT_EQ(fake::HeaderLines(0xA0000000).back(), u"Cookie:sid=7");
}
