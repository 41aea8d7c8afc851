// The process cookie store behind InternetSetCookieA / InternetGetCookieA (RFC 6265 rules).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winapi.h"

namespace {

// What InternetGetCookieA gives for `url` through the sizing protocol; "<none>" for
// ERROR_NO_MORE_ITEMS.
std::string Get(const std::string& url) {
    DWORD size = 0;
    if (!InternetGetCookieA(url.c_str(), "", nullptr, &size)) {
        return GetLastError() == ERROR_NO_MORE_ITEMS ? "<none>" : "<error>";
    }
    std::string buffer(size, '\0');
    if (!InternetGetCookieA(url.c_str(), "", buffer.data(), &size)) return "<error>";
    return buffer.c_str();
}

struct Set {
    std::string url;
    const char* name;  // null: data holds "name=value; attributes"
    std::string data;
};

TEST(CookieStore, MatchesHostPathAndSecure) {
    // Each row uses its own host, so rows do not see each other's cookies.
    struct {
        const char* rule;
        std::vector<Set> sets;
        std::string url;
        std::string expected;
    } cases[] = {
        {"name and bare data",
         {{"http://a1.test/dir/page", "sid", "42"}},
         "http://a1.test/dir/other",
         "sid=42"},
        {"default path is the directory",
         {{"http://a2.test/dir/page", "sid", "42"}},
         "http://a2.test/",
         "<none>"},
        {"default path of a top page is /",
         {{"http://a3.test/page", "sid", "1"}},
         "http://a3.test/elsewhere/x",
         "sid=1"},
        {"path /dir does not match /directory",
         {{"http://a4.test/dir/p", "k", "v"}},
         "http://a4.test/directory",
         "<none>"},
        {"path /dir matches /dir itself",
         {{"http://a5.test/dir/p", "k", "v"}},
         "http://a5.test/dir",
         "k=v"},
        {"NULL name parses name=value and Path",
         {{"http://a6.test/x/y", nullptr, "k=v; Path=/"}},
         "http://a6.test/",
         "k=v"},
        {"host-only cookie not sent to a subdomain",
         {{"http://a7.test/", "k", "v"}},
         "http://sub.a7.test/",
         "<none>"},
        {"Domain cookie sent to a subdomain",
         {{"http://a8.test/", nullptr, "k=v; domain=.a8.test; path=/"}},
         "http://deep.sub.a8.test/",
         "k=v"},
        {"Domain of another site refused",
         {{"http://a9.test/", nullptr, "k=v; domain=other.test"}},
         "http://other.test/",
         "<none>"},
        {"Secure cookie only over https",
         {{"https://b1.test/", nullptr, "k=v; Secure; Path=/"}},
         "http://b1.test/",
         "<none>"},
        {"Secure cookie over https",
         {{"https://b2.test/", nullptr, "k=v; Secure; Path=/"}},
         "https://b2.test/",
         "k=v"},
        {"scheme and port do not matter",
         {{"http://b3.test:8080/", "k", "v"}},
         "https://b3.test:9/",
         "k=v"},
        {"host compared without case", {{"http://B4.Test/", "k", "v"}}, "http://b4.test/", "k=v"},
        {"same name replaces",
         {{"http://b5.test/", "k", "1"}, {"http://b5.test/", "k", "2"}},
         "http://b5.test/",
         "k=2"},
        {"longer path first, then older",
         {{"http://b6.test/", nullptr, "a=1; path=/"},
          {"http://b6.test/", nullptr, "b=2; path=/x"},
          {"http://b6.test/", nullptr, "c=3; path=/"}},
         "http://b6.test/x/y",
         "b=2; a=1; c=3"},
        {"past Expires deletes",
         {{"http://b7.test/", "k", "v"},
          {"http://b7.test/", nullptr, "k=v; expires=Thu, 01 Jan 1970 00:00:01 GMT"}},
         "http://b7.test/",
         "<none>"},
        {"Max-Age 0 deletes",
         {{"http://b8.test/", "k", "v"}, {"http://b8.test/", nullptr, "k=x; Max-Age=0"}},
         "http://b8.test/",
         "<none>"},
        {"future expiry kept",
         {{"http://b9.test/", nullptr, "k=v; expires=Fri, 01 Jan 2100 00:00:00 GMT"}},
         "http://b9.test/",
         "k=v"},
        {"value with blanks kept as given",
         {{"http://c1.test/", "k", " x "}},
         "http://c1.test/",
         "k= x "},
        {"empty value kept", {{"http://c2.test/", "k", ""}}, "http://c2.test/", "k="},
        {"IP host is host-only", {{"http://127.0.0.9/", "k", "v"}}, "http://127.0.0.9/", "k=v"},
    };
    for (const auto& row : cases) {
        for (const Set& set : row.sets) {
            InternetSetCookieA(set.url.c_str(), set.name, set.data.c_str());
        }
        EXPECT_EQ(Get(row.url), row.expected) << row.rule;
    }
}

TEST(CookieStore, SizingProtocol) {
    ASSERT_TRUE(InternetSetCookieA("http://size.test/", "name", "value"));
    DWORD size = 0;
    ASSERT_TRUE(InternetGetCookieA("http://size.test/", "", nullptr, &size));
    EXPECT_EQ(size, sizeof "name=value");  // terminating zero included

    char small[4];
    DWORD smallSize = sizeof small;
    EXPECT_FALSE(InternetGetCookieA("http://size.test/", "", small, &smallSize));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(smallSize, sizeof "name=value");

    std::string buffer(size, 'x');
    ASSERT_TRUE(InternetGetCookieA("http://size.test/", "", buffer.data(), &size));
    EXPECT_STREQ(buffer.c_str(), "name=value");

    DWORD none = 0;
    EXPECT_FALSE(InternetGetCookieA("http://nothing.test/", "", nullptr, &none));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
}

TEST(CookieStore, RejectsUnusableUrls) {
    for (const char* url : {"", "not a url", "ftp://h/", "http://"}) {
        EXPECT_FALSE(InternetSetCookieA(url, "k", "v")) << url;
        DWORD size = 0;
        EXPECT_FALSE(InternetGetCookieA(url, "", nullptr, &size)) << url;
    }
}

}  // namespace
