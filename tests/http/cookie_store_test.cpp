// The session's own cookie store. A store is written as its entries: "a=1, b=2" is the store
// text "; a=1; b=2; ".
#include "session_fixture.h"

namespace {
// "a=1, b=2" -> "; a=1; b=2; "; "" -> "; ".
std::string Store(const std::string& entries) {
    std::string store = "; ";
    size_t start = 0;
    while (start < entries.size()) {
        size_t end = entries.find(", ", start);
        if (end == std::string::npos) end = entries.size();
        store += entries.substr(start, end - start) + "; ";
        start = end + 2;
    }
    return store;
}
}  // namespace

TEST_F(SessionTest, CaptureFromSetCookieLines) {
    struct {
        const char* store;
        const char* lines;
        int keep;
        const char* after;
    } cases[] = {
        {"", "Set-Cookie: a=1; path=/\r\nset-cookie: b=2; HttpOnly", 0, "a=1, b=2"},
        {"a=1, b=2", "Set-Cookie: a=3; path=/", 0, "a=3, b=2"},
        {"a=1, b=2", "Set-Cookie: a=3; path=/", 1, "a=3, b=2"},
        {"a=1, b=2", "Set-Cookie: a=deleted; expires=Thu, 01 Jan 1970 00:00:01 GMT", 0, "b=2"},
        {"a=1, b=2", "Set-Cookie: b=deleted; path=/", 0, "a=1"},
        {"a=1, b=2", "Set-Cookie: a=deleted; expires=Thu, 01 Jan 1970 00:00:01 GMT", 1, "a=1, b=2"},
        {"a=1", "Set-Cookie: a=DELETED;\r\nSet-Cookie: x=Deleted;", 0, ""},
        {"", "Set-Cookie: c=deleted;", 0, ""},
        {"", "Set-Cookie: c=DeLeTeD;", 0, "c=DeLeTeD"},
        {"a=1", "Set-Cookie: a=; path=/", 0, "a="},
        {"a=1", "Set-Cookie: a=; path=/", 1, "a=1"},
        {"a=1", "Set-Cookie: a= ; path=/", 1, "a= "},  // blanks are a value here
        {"", "Set-Cookie: n=; path=/", 1, "n="},
        {"a=1", "Set-Cookie: A=2;", 0, "a=1, A=2"},
        {"", "Set-Cookie: secure;", 0, ""},
        {"ab=1", "Set-Cookie: b=2;", 0, "ab=1, b=2"},
        // A line without ";" is read whole; the next lines are still scanned.
        {"", "Set-Cookie: s=1\r\nX-A: b; c\r\nSet-Cookie: t=2; path=/", 0, "s=1, t=2"},
        {"s=0", "Set-Cookie: s=deleted\r\nX: y", 0, ""},
    };
    for (const auto& c : cases) {
        session.Cookies(Text(Store(c.store).c_str()));
        session.responseHeaders = Text(fake::Narrow(RawHeaders(c.lines)));
        session.CaptureResponseCookies(c.keep);
        EXPECT_EQ(S(session.cookieStore), Store(c.after)) << c.store << " + " << c.lines;
        EXPECT_EQ(session.cookieStoreLength, static_cast<int>(Store(c.after).size())) << c.lines;
    }
}

TEST_F(SessionTest, CaptureSetsTheLength) {
    session.responseHeaders =
        "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nset-cookie: b=2; HttpOnly\r\n\r\n";
    session.CaptureResponseCookies();
    EXPECT_EQ(session.cookieStoreLength, 12);
}

TEST_F(SessionTest, AttachCookieHeaderSendsTheStore) {
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_TRUE(session.AttachCookieHeader());
    EXPECT_EQ(world.headers.back().lines, u"Cookie:");
    EXPECT_EQ(world.headers.back().length, 7u);
    session.Cookies("a=1; b=2");
    EXPECT_TRUE(session.AttachCookieHeader());
    EXPECT_EQ(world.headers.back().lines, u"Cookie:a=1; b=2");
    EXPECT_EQ(world.headers.back().flags, 0xA0000000u);
}

TEST_F(SessionTest, CookiesGivenAndRead) {
    struct {
        const char* given;
        const char* store;
    } cases[] = {
        {"a=1", "; a=1; "},   {"a=1;", "; a=1; "}, {"; a=1; ", "; a=1; "},
        {"a=1 ", "; a=1 ; "}, {"", "; "},          {"a=1; a=2", "; a=1; a=2; "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(S(session.Cookies(Text(c.given))), c.given);
        EXPECT_EQ(S(session.cookieStore), c.store) << c.given;
        EXPECT_EQ(session.cookieStoreLength, static_cast<int>(std::string(c.store).size()));
    }
    session.Cookies("a=1; b=2");
    EXPECT_EQ(S(session.Cookies()), "a=1; b=2");
    session.Cookies(Text());
    EXPECT_EQ(S(session.Cookies()), "");
}

TEST_F(SessionTest, GetCookie) {
    session.Cookies(Text(Store("ab=1, a=2, e=").c_str()));
    struct {
        const char* name;
        int withName;
        const char* value;
    } cases[] = {{"a", 0, "2"}, {"a", 1, "a=2"}, {"ab", 0, "1"}, {"b", 0, ""},
                 {"A", 0, ""},  {"", 0, ""},     {"e", 0, ""},   {"e", 1, "e="}};
    for (const auto& c : cases) {
        EXPECT_EQ(S(session.GetCookie(c.name, c.withName)), c.value)
            << c.name << " withName " << c.withName;
    }
}

TEST_F(SessionTest, MergeCookies) {
    struct {
        const char* store;
        const char* text;
        int result;
        const char* after;
    } cases[] = {
        {"a=1, b=2", "a=7; c=3", 1, "a=7, b=2, c=3"},
        {"a=1, b=2", "x", 0, "a=1, b=2"},
        {"a=1, b=2", "", 0, "a=1, b=2"},
        {"", "a=1; a=2", 1, "a=2"},
        {"", "  a=1 ;b=2", 1, "a=1 , b=2"},
        {"a=1", "a=1", 0, "a=1"},
        {"a=1", ";;b=2;", 1, "a=1, b=2"},
    };
    for (const auto& c : cases) {
        session.Cookies(Text(Store(c.store).c_str()));
        EXPECT_EQ(session.MergeCookies(c.text), c.result) << c.store << " + " << c.text;
        EXPECT_EQ(S(session.cookieStore), Store(c.after)) << c.store << " + " << c.text;
        EXPECT_EQ(session.cookieStoreLength, static_cast<int>(Store(c.after).size()));
    }
}

TEST_F(SessionTest, RemoveCookies) {
    struct {
        const char* store;
        const char* names;
        int result;
        const char* after;
    } cases[] = {
        {"a=1, b=2, c=3", "a; b=9", 1, "c=3"},
        {"a=1, b=2, c=3", "z", 0, "a=1, b=2, c=3"},
        {"a=1, b=2, c=3", "", 0, "a=1, b=2, c=3"},
        {"a=1, a=2", "a", 1, "a=2"},  // only the first entry of a name
        {"ab=1, b=2", " b", 1, "ab=1"},
        {"a=1", "A", 0, "a=1"},
    };
    for (const auto& c : cases) {
        session.Cookies(Text(Store(c.store).c_str()));
        EXPECT_EQ(session.RemoveCookies(c.names), c.result) << c.store << " - " << c.names;
        EXPECT_EQ(S(session.cookieStore), Store(c.after)) << c.store << " - " << c.names;
        EXPECT_EQ(session.cookieStoreLength, static_cast<int>(Store(c.after).size()));
    }
}

TEST_F(SessionTest, StoredCookiesGoOutInModeOne) {
    session.SetCookieMode(1);
    world.answer.rawHeaders = RawHeaders("Set-Cookie: sid=42; path=/");
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    ASSERT_TRUE(session.Send());
    ASSERT_TRUE(session.Open("GET", "http://other.test/"));
    ASSERT_TRUE(session.Send());
    EXPECT_EQ(fake::HeaderLines(0xA0000000).back(), u"Cookie:sid=42");
}
