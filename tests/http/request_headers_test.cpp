// The request-header setters: exact lines, lengths and flags handed to WinHTTP.
#include "session_fixture.h"

namespace {
constexpr DWORD addOrReplace = 0xA0000000;
}

class RequestHeaderTest : public SessionTest {
  protected:
    void SetUp() override { ASSERT_TRUE(session.Open("GET", "example.test/page?x=1")); }
    const fake::HeaderCall& Last() { return world.headers.back(); }
};

TEST_F(RequestHeaderTest, SettersSendTheirLines) {
    struct {
        const char* name;
        int (*call)(HttpSession&);
        const char16_t* line;
    } cases[] = {
        {"SetRequestHeader", [](HttpSession& s) { return s.SetRequestHeader("X-Token", "abc"); },
         u"X-Token:abc"},
        {"SetRequestHeader empty value",
         [](HttpSession& s) { return s.SetRequestHeader("X-Empty", ""); }, u"X-Empty:"},
        {"SetUserAgent", [](HttpSession& s) { return s.SetUserAgent(); },
         u"User-Agent:Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)"},
        {"SetUserAgent empty", [](HttpSession& s) { return s.SetUserAgent(Text()); },
         u"User-Agent:"},
        {"SetReferer", [](HttpSession& s) { return s.SetReferer(); },
         u"Referer:http://example.test/page?x=1"},
        {"SetReferer given", [](HttpSession& s) { return s.SetReferer("http://r.test/"); },
         u"Referer:http://r.test/"},
        {"SetAccept", [](HttpSession& s) { return s.SetAccept(); }, u"Accept:*/*"},
        {"SetAccept given", [](HttpSession& s) { return s.SetAccept("application/json"); },
         u"Accept:application/json"},
        {"SetAcceptLanguage", [](HttpSession& s) { return s.SetAcceptLanguage(); },
         u"Accept-Language:zh-cn"},
        {"SetContentType", [](HttpSession& s) { return s.SetContentType(); },
         u"Content-Type:application/x-www-form-urlencoded"},
        {"SetAjaxHeader", [](HttpSession& s) { return s.SetAjaxHeader(); },
         u"x-requested-with:XMLHttpRequest"},
        {"SetForwardedIp", [](HttpSession& s) { return s.SetForwardedIp("10.0.0.1"); },
         u"X-Forwarded-For:10.0.0.1\r\nCLIENT_IP:10.0.0.1\r\nVIA:10.0.0.1\r\nREMOTE_ADDR:10.0.0.1"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(c.call(session), 0) << c.name;
        EXPECT_EQ(Last().lines, c.line) << c.name;
        EXPECT_EQ(Last().length, std::u16string(c.line).size()) << c.name;
        EXPECT_EQ(Last().flags, addOrReplace) << c.name;
        EXPECT_EQ(Last().request, session.requestHandle) << c.name;
    }
}

TEST_F(RequestHeaderTest, LengthCountsUtf16UnitsNotBytes) {
    EXPECT_NE(session.SetRequestHeader("X-Name", "\xD6\xD0\xCE\xC4"), 0);  // two characters
    EXPECT_EQ(Last().lines, u"X-Name:\u4E2D\u6587");
    EXPECT_EQ(Last().length, 9u);
}

TEST_F(RequestHeaderTest, FlagsAndRemoval) {
    session.SetRequestHeader("X-A", "1", WINHTTP_ADDREQ_FLAG_ADD_IF_NEW);
    EXPECT_EQ(Last().flags, 0x10000000u);
    session.RemoveRequestHeader("Referer");
    EXPECT_EQ(Last().lines, u"Referer:");
    EXPECT_EQ(Last().length, 8u);
    EXPECT_EQ(Last().flags, 0x80000000u);
    const size_t calls = world.headers.size();
    EXPECT_EQ(session.SetRequestHeader("", "x"), 0);
    EXPECT_EQ(session.RemoveRequestHeader(""), 0);
    EXPECT_EQ(world.headers.size(), calls);
}

TEST_F(RequestHeaderTest, OwnCookieHeaderTurnsWinHttpCookiesOffInModeZeroOnly) {
    struct {
        int mode;
        const char* name;
        size_t options;
    } cases[] = {
        {0, "COOKIE", 1}, {0, "cookie", 1}, {0, "Cookie ", 0}, {1, "Cookie", 0}, {2, "Cookie", 0}};
    for (const auto& c : cases) {
        session.SetCookieMode(c.mode);
        world.options.clear();
        session.SetRequestHeader(c.name, "a=1");
        EXPECT_EQ(world.options.size(), c.options) << c.name << " mode " << c.mode;
        if (c.options) {
            EXPECT_EQ(world.options[0].option, WINHTTP_OPTION_DISABLE_FEATURE);
            EXPECT_EQ(world.options[0].Value(), WINHTTP_DISABLE_COOKIES);
        }
        EXPECT_EQ(Last().lines, fake::U16(std::string(c.name) + ":a=1"));
    }
}

TEST_F(RequestHeaderTest, CookieHeaderByMode) {
    EXPECT_NE(session.SetCookieHeader("a=1; b=2"), 0);
    EXPECT_EQ(Last().lines, u"Cookie:a=1; b=2");
    EXPECT_EQ(fake::OptionValues(WINHTTP_OPTION_DISABLE_FEATURE),
              (std::vector<DWORD>{WINHTTP_DISABLE_COOKIES, WINHTTP_DISABLE_COOKIES}));

    session.SetCookieMode(1);
    const size_t calls = world.headers.size();
    EXPECT_EQ(session.SetCookieHeader("a=1; b=2"), 1);
    EXPECT_EQ(S(session.Cookies()), "a=1; b=2");
    EXPECT_EQ(world.headers.size(), calls);

    session.SetCookieMode(2);
    EXPECT_EQ(session.SetCookieHeader("a=1; b=2"), 1);
    ASSERT_EQ(world.cookiesSet.size(), 2u);
    EXPECT_EQ(world.cookiesSet[1].url, "http://example.test/page?x=1");
    EXPECT_EQ(world.cookiesSet[1].name, "b");
    EXPECT_EQ(world.cookiesSet[1].data, "2");
}

TEST_F(SessionTest, HeaderSettersNeedARequest) {
    for (bool closed : {false, true}) {
        if (closed) {
            ASSERT_TRUE(session.Open("GET", "http://a.test/"));
            session.Close();
        }
        EXPECT_EQ(session.SetRequestHeader("X", "1"), 0);
        EXPECT_EQ(session.RemoveRequestHeader("X"), 0);
        EXPECT_EQ(session.SetUserAgent(), 0);
        EXPECT_EQ(session.SetReferer(), 0);
        EXPECT_EQ(session.SetAccept(), 0);
        EXPECT_EQ(session.SetAcceptLanguage(), 0);
        EXPECT_EQ(session.SetContentType(), 0);
        EXPECT_EQ(session.SetAjaxHeader(), 0);
        EXPECT_EQ(session.SetForwardedIp("1.2.3.4"), 0);
        EXPECT_EQ(session.SetCookieHeader("a=1"), 0);
        EXPECT_TRUE(world.headers.empty());
    }
    // The stores need no request.
    session.SetCookieMode(1);
    EXPECT_EQ(session.SetCookieHeader("a=1"), 1);
}

TEST_F(SessionTest, CallersContentTypeWinsOverTheStockOne) {
    ASSERT_TRUE(session.Open("POST", "http://a.test/"));
    session.SetContentType("application/json");
    ASSERT_TRUE(session.Send("{}"));
    EXPECT_EQ(world.headers[0].lines, u"Content-Type:application/json");
    EXPECT_EQ(world.headers[0].flags, addOrReplace);
    // The stock line still goes with ADD_IF_NEW, which WinHTTP drops for a name already there.
    EXPECT_EQ(world.headers.back().flags, WINHTTP_ADDREQ_FLAG_ADD_IF_NEW);
}
