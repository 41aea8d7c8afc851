// Taking in the answer's header block: the declared length and the cookie step.
#include "session_fixture.h"

TEST_F(SessionTest, DeclaredLength) {
    struct {
        std::string block;
        int length;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\ncontent-length: 1024\r\n\r\n", 1024},
        {"HTTP/1.1 200 OK\r\nContent-Length:   42\r\n\r\n", 42},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 57", 57},
        {"HTTP/1.1 200 OK\r\nContent-Length:", 0},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 10\r\nContent-Length: 20\r\n\r\n", 10},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", 0},
    };
    for (const auto& c : cases) {
        world.answer.rawHeaders = fake::U16(c.block);
        ASSERT_TRUE(session.Open("GET", "http://a.test/"));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(session.contentLength, c.length) << c.block;
        EXPECT_EQ(S(session.responseHeaders), c.block);
    }
}

TEST_F(SessionTest, UnreadableHeadersLeaveTheBlockEmptyAndTheLengthUnknown) {
    session.SetCookieMode(1);
    world.failRawHeaders = true;
    world.answer.rawHeaders = RawHeaders("Set-Cookie: a=1;");
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_TRUE(session.Send());
    EXPECT_FALSE(session.ReadResponseHeaders());
    EXPECT_EQ(session.contentLength, -1);
    EXPECT_EQ(S(session.responseHeaders), "");
    EXPECT_EQ(S(session.Cookies()), "");
}

TEST_F(SessionTest, CookieStepByMode) {
    struct {
        int mode;
        const char* store;
        size_t systemCookies;
    } cases[] = {{0, "", 0}, {1, "a=1", 0}, {2, "", 1}};
    for (const auto& c : cases) {
        session.Reset();
        session.SetCookieMode(c.mode);
        world.cookiesSet.clear();
        ASSERT_TRUE(Fetch("Set-Cookie: a=1; path=/"));
        EXPECT_EQ(S(session.Cookies()), c.store) << "mode " << c.mode;
        EXPECT_EQ(world.cookiesSet.size(), c.systemCookies) << "mode " << c.mode;
    }
}
