// Send's attempts, the receive buffer's sizes and failures, redirects and their Location.
#include "session_fixture.h"

namespace {
constexpr int MiB = 1048576;
}

TEST_F(SessionTest, SendWithoutARequestAppliesNothing) {
    EXPECT_FALSE(session.Send("x"));
    EXPECT_TRUE(world.sends.empty());
    EXPECT_TRUE(world.options.empty());
    EXPECT_EQ(session.ignoreCertErrorsPending, 1);
}

TEST_F(SessionTest, SendHandsTheBodyOverAsItIs) {
    ASSERT_TRUE(session.Open("POST", "http://a.test/"));
    ASSERT_TRUE(session.Send("image=a%2Bb"));
    ASSERT_EQ(world.sends.size(), 1u);
    EXPECT_EQ(world.sends[0].body, "image=a%2Bb");
    EXPECT_EQ(world.sends[0].optionalLength, 11u);
    EXPECT_EQ(world.sends[0].totalLength, 11u);
    EXPECT_TRUE(world.sends[0].headersNull);
    EXPECT_EQ(world.sends[0].context, 0u);

    const char raw[] = {'a', '\0', 'b'};
    ASSERT_TRUE(session.SendBytes(Bytes(raw, 3)));
    EXPECT_EQ(world.sends[1].body, std::string(raw, 3));
    EXPECT_EQ(world.sends[1].totalLength, 3u);

    ASSERT_TRUE(session.Send());
    EXPECT_EQ(world.sends[2].optionalLength, 0u);
    EXPECT_EQ(world.sends[2].totalLength, 0u);
}

TEST_F(SessionTest, RetriesOnlyAfterConnectionErrors) {
    struct {
        std::vector<DWORD> errors;
        int retries;
        bool ok;
        size_t attempts;
    } cases[] = {
        {{ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_CANNOT_CONNECT},
         2,
         false,
         3},
        {{ERROR_WINHTTP_CONNECTION_ERROR, ERROR_WINHTTP_CANNOT_CONNECT, 0}, 2, true, 3},
        {{ERROR_WINHTTP_TIMEOUT, 0}, 2, false, 1},
        {{ERROR_WINHTTP_CANNOT_CONNECT, 0}, 0, false, 1},
        {{0}, -1, false, 0},
    };
    for (const auto& c : cases) {
        world.sends.clear();
        world.sendErrors.assign(c.errors.begin(), c.errors.end());
        ASSERT_TRUE(session.Open("GET", "http://a.test/"));
        EXPECT_EQ(session.Send(Text(), 0, c.retries), c.ok) << "retries " << c.retries;
        EXPECT_EQ(world.sends.size(), c.attempts) << "retries " << c.retries;
        if (!c.ok) {
            EXPECT_EQ(S(session.GetAllResponseHeaders()), "");
        }
    }
}

// The sizes the receive buffer is given while one body is read.
TEST_F(SessionTest, ReceiveBufferSizes) {
    struct {
        const char* name;
        int declared;  // -1: no Content-Length
        int body;
        DWORD chunk;
        std::vector<SIZE_T> sizes;
    } cases[] = {
        {"unknown length starts at 10240", -1, 5000, 8192, {10240}},
        {"unknown length grows to need + 10240", -1, 25000, 10000, {10240, 30240}},
        {"declared length up to 1 MiB is exact", 300000, 300000, 65536, {300000}},
        {"declared 1 MiB", MiB, MiB, 65536, {MiB}},
        {"longer in 1 MiB steps, ending exactly",
         3 * MiB + 5,
         3 * MiB + 5,
         MiB,
         {MiB, 3 * MiB, 3 * MiB + 5}},
        {"body longer than declared", 100, 150, 100, {100, 10390}},
    };
    for (const auto& c : cases) {
        world.reAllocSizes.clear();
        std::string body(c.body, 'x');
        body.back() = 'z';
        world.answer.chunk = c.chunk;
        const std::string length =
            c.declared < 0 ? "" : "Content-Length: " + std::to_string(c.declared);
        ASSERT_TRUE(Fetch(length, body)) << c.name;
        const Bytes got = session.GetResponseBody();
        EXPECT_EQ(got.size(), c.body) << c.name;
        EXPECT_TRUE(S(got) == body) << c.name;
        EXPECT_EQ(world.reAllocSizes, c.sizes) << c.name;
    }
}

TEST_F(SessionTest, EachReadAsksForAllTheFreeRoom) {
    world.answer.chunk = 1000;
    ASSERT_TRUE(Fetch("", std::string(2500, 'a')));
    ASSERT_EQ(session.GetResponseBody().size(), 2500);
    EXPECT_EQ(world.readRooms, (std::vector<DWORD>{10240, 9240, 8240}));
}

TEST_F(SessionTest, BodyIsReadOnceAndServedFromTheBuffer) {
    ASSERT_TRUE(Fetch("Content-Length: 5", "hello"));
    EXPECT_EQ(S(session.GetResponseBody()), "hello");
    const int reads = world.readCalls;
    EXPECT_EQ(S(session.GetResponseBody()), "hello");
    EXPECT_EQ(S(session.GetResponseText()), "hello");
    EXPECT_EQ(world.readCalls, reads);
    EXPECT_EQ(session.receivedLength, 5);
}

TEST_F(SessionTest, ZeroLengthIsNotRead) {
    ASSERT_TRUE(Fetch("Content-Length: 0", "ignored"));
    EXPECT_EQ(S(session.GetResponseBody()), "");
    EXPECT_EQ(world.readCalls, 0);
    EXPECT_TRUE(world.reAllocSizes.empty());
}

TEST_F(SessionTest, FailedFirstResizeGivesEmptyAndKeepsTheBuffer) {
    world.failReAllocCall = 0;
    ASSERT_TRUE(Fetch("Content-Length: 5", "hello"));
    LPVOID before = session.receiveBuffer;
    EXPECT_EQ(S(session.GetResponseBody()), "");
    EXPECT_EQ(session.receiveBuffer, before);
    EXPECT_EQ(world.readCalls, 0);
    // Not kept as read: the next call tries again.
    EXPECT_EQ(S(session.GetResponseBody()), "hello");
}

TEST_F(SessionTest, FailedLaterResizeKeepsWhatWasRead) {
    world.failReAllocCall = 1;
    world.answer.chunk = 10240;
    std::string body(25000, 'b');
    ASSERT_TRUE(Fetch("", body));
    EXPECT_EQ(S(session.GetResponseBody()), body.substr(0, 10240));
    const int reads = world.readCalls;
    EXPECT_EQ(S(session.GetResponseBody()), body.substr(0, 10240));
    EXPECT_EQ(world.readCalls, reads);
}

TEST_F(SessionTest, FailedFirstAllocationGivesEmptyBodiesUntilReset) {
    world.failAlloc = true;
    HttpSession other;
    EXPECT_EQ(other.receiveBuffer, nullptr);
    world.answer.rawHeaders = RawHeaders("Content-Length: 2");
    world.answer.body = "ok";
    ASSERT_TRUE(other.Open("GET", "http://a.test/"));
    ASSERT_TRUE(other.Send());
    EXPECT_EQ(S(other.GetResponseBody()), "");
    EXPECT_EQ(world.readCalls, 0);
    world.failAlloc = false;
    other.Reset();
    ASSERT_NE(other.receiveBuffer, nullptr);
    ASSERT_TRUE(other.Open("GET", "http://a.test/"));
    ASSERT_TRUE(other.Send());
    EXPECT_EQ(S(other.GetResponseBody()), "ok");
}

TEST_F(SessionTest, RedirectChainOfTwentyFiveStopsAfterTwenty) {
    for (int mode : {1, 2}) {
        session.Reset();
        session.SetCookieMode(mode);
        world.requests.clear();
        for (int hop = 1; hop <= 25; ++hop) {
            fake::Answer a;
            a.rawHeaders = RawHeaders("Location: /hop" + std::to_string(hop), "HTTP/1.1 302 Found");
            world.answers.push_back(a);
        }
        ASSERT_TRUE(session.Open("GET", "http://a.test/start"));
        ASSERT_TRUE(session.Send());
        EXPECT_EQ(world.requests.size(), 21u) << "mode " << mode;
        EXPECT_EQ(world.requests.back().path, u"/hop20");
        EXPECT_EQ(S(session.GetRedirectLocation()), "/hop21");
        EXPECT_EQ(session.redirectCount, 0);
        world.answers.clear();
    }
}

TEST_F(SessionTest, RedirectsFollowedOnlyWithACookieModeAndNotWhenDisabled) {
    struct {
        int mode;
        int follow;
        size_t requests;
    } cases[] = {{0, 1, 1}, {1, 1, 2}, {2, 1, 2}, {1, 0, 1}, {2, 0, 1}};
    for (const auto& c : cases) {
        session.Reset();
        session.SetCookieMode(c.mode);
        session.SetFollowRedirects(c.follow);
        world.requests.clear();
        fake::Answer created;  // any status with a Location is followed
        created.rawHeaders = RawHeaders("Location: http://b.test/new", "HTTP/1.1 201 Created");
        world.answers = {created};
        ASSERT_TRUE(session.Open("POST", "http://a.test/"));
        ASSERT_TRUE(session.Send("x"));
        EXPECT_EQ(world.requests.size(), c.requests) << "mode " << c.mode << " follow " << c.follow;
        if (c.requests == 2) {
            EXPECT_EQ(world.requests.back().verb, u"GET");
            EXPECT_EQ(S(session.url), "http://b.test/new");
            EXPECT_EQ(S(session.GetAllResponseHeaders()), "HTTP/1.1 200 OK\r\n\r\n");
        }
    }
}

TEST_F(SessionTest, FailingHopLeavesTheFirstSendTrueAndTheCountStanding) {
    session.SetCookieMode(1);
    fake::Answer redirect;
    redirect.rawHeaders = RawHeaders("Location: /next", "HTTP/1.1 302 Found");
    world.answers = {redirect};
    world.sendErrors = {0, ERROR_WINHTTP_TIMEOUT};
    ASSERT_TRUE(session.Open("GET", "http://a.test/"));
    EXPECT_TRUE(session.Send());
    EXPECT_EQ(session.redirectCount, 1);
    EXPECT_EQ(S(session.url), "http://a.test:80/next");
    EXPECT_EQ(S(session.GetAllResponseHeaders()), "");
}

TEST_F(SessionTest, RedirectLocation) {
    struct {
        const char* url;
        const char* headers;
        const char* raw;
        const char* absolute;
    } cases[] = {
        {"http://a.test/dir/page", "Location:  /x ", "/x", "http://a.test:80/x"},
        {"https://a.test/dir/page", "Location: /x", "/x", "https://a.test:443/x"},
        {"https://a.test:8443/", "Location: //other.test/y", "//other.test/y",
         "https://a.test:8443//other.test/y"},
        {"http://a.test/dir/page", "Location: HTTPS://b.test/z", "HTTPS://b.test/z",
         "HTTPS://b.test/z"},
        {"http://a.test/dir/page?q=1", "location: next", "next", "http://a.test/dir/next"},
        {"http://a.test/p?r=/s", "Location: next", "next", "http://a.test/p?r=/next"},
        {"http://a.test", "Location: next", "next", "http://a.test/next"},  // no "/" behind host
        {"http://a.test/", "Content-Location: /c\r\nLocation: /l", "/c", "http://a.test:80/c"},
        {"http://a.test/", "X: y", "", ""},
        {"http://a.test/", "Location:   ", "", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Fetch(c.headers, "", c.url)) << c.url;
        EXPECT_EQ(S(session.GetRedirectLocation()), c.raw) << c.headers;
        EXPECT_EQ(S(session.GetRedirectLocation(1)), c.absolute) << c.url << " " << c.headers;
    }
}
