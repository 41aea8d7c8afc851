// WinHttpCrackUrl for http and https, with lengths of -1 asking for pointers into the URL.
#include <gtest/gtest.h>

#include <string>

#include "platform/winapi.h"

namespace {

std::u16string W(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string Part(LPCWSTR pointer, DWORD length) {
    if (!pointer) return "<null>";
    return std::string(pointer, pointer + length);
}

URL_COMPONENTS AskAll() {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = DWORD(-1);
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUserNameLength = DWORD(-1);
    parts.dwPasswordLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    return parts;
}

TEST(WinHttpCrackUrl, SplitsHttpAndHttpsUrls) {
    struct {
        std::string url;
        INTERNET_SCHEME scheme;
        std::string host;
        INTERNET_PORT port;
        std::string user, password, path, extra;
    } cases[] = {
        {"http://example.com", 1, "example.com", 80, "", "", "", ""},
        {"http://example.com/", 1, "example.com", 80, "", "", "/", ""},
        {"https://example.com/a/b", 2, "example.com", 443, "", "", "/a/b", ""},
        {"HTTPS://Example.COM/X", 2, "Example.COM", 443, "", "", "/X", ""},
        {"http://example.com:8080/p?q=1", 1, "example.com", 8080, "", "", "/p", "?q=1"},
        {"https://h:1/p?q=1#frag", 2, "h", 1, "", "", "/p", "?q=1#frag"},
        {"http://h/p#only", 1, "h", 80, "", "", "/p", "#only"},
        {"http://h?q", 1, "h", 80, "", "", "", "?q"},
        {"http://[::1]:8443/x", 1, "[::1]", 8443, "", "", "/x", ""},
        {"https://[2001:db8::5]/", 2, "[2001:db8::5]", 443, "", "", "/", ""},
        {"http://user:pw@h:81/", 1, "h", 81, "user", "pw", "/", ""},
        {"http://user@h/", 1, "h", 80, "user", "", "/", ""},
        {"http://h:/p", 1, "h", 80, "", "", "/p", ""},
        {"http://h:65535/", 1, "h", 65535, "", "", "/", ""},
    };
    for (const auto& row : cases) {
        std::u16string url = W(row.url);
        URL_COMPONENTS parts = AskAll();
        ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts))
            << row.url << ": error " << GetLastError();
        EXPECT_EQ(parts.nScheme, row.scheme) << row.url;
        EXPECT_EQ(Part(parts.lpszHostName, parts.dwHostNameLength), row.host) << row.url;
        EXPECT_EQ(parts.nPort, row.port) << row.url;
        EXPECT_EQ(Part(parts.lpszUserName, parts.dwUserNameLength), row.user) << row.url;
        EXPECT_EQ(Part(parts.lpszPassword, parts.dwPasswordLength), row.password) << row.url;
        EXPECT_EQ(Part(parts.lpszUrlPath, parts.dwUrlPathLength), row.path) << row.url;
        EXPECT_EQ(Part(parts.lpszExtraInfo, parts.dwExtraInfoLength), row.extra) << row.url;
        // Pointers point into the given URL.
        EXPECT_GE(parts.lpszHostName, url.c_str()) << row.url;
        EXPECT_LE(parts.lpszHostName + parts.dwHostNameLength, url.c_str() + url.size());
    }
}

TEST(WinHttpCrackUrl, RejectsOtherSchemesAndMalformedUrls) {
    struct {
        std::string url;
        DWORD error;
    } cases[] = {
        {"ftp://example.com/", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
        {"file:///etc/passwd", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
        {"example.com/path", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
        {"", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
        {"http:/example.com", ERROR_WINHTTP_INVALID_URL},
        {"http://", ERROR_WINHTTP_INVALID_URL},
        {"http:///path", ERROR_WINHTTP_INVALID_URL},
        {"http://h:65536/", ERROR_WINHTTP_INVALID_URL},
        {"http://h:8x/", ERROR_WINHTTP_INVALID_URL},
        {"http://[::1/", ERROR_WINHTTP_INVALID_URL},
        {"http://exa mple.com/", ERROR_WINHTTP_INVALID_URL},
    };
    for (const auto& row : cases) {
        std::u16string url = W(row.url);
        URL_COMPONENTS parts = AskAll();
        SetLastError(0);
        // An empty URL is passed with its length, so the zero length means "up to the NUL".
        EXPECT_FALSE(WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts)) << row.url;
        EXPECT_EQ(GetLastError(), row.error) << row.url;
    }
}

TEST(WinHttpCrackUrl, LengthZeroMeansNulTerminated) {
    URL_COMPONENTS parts = AskAll();
    ASSERT_TRUE(WinHttpCrackUrl(u"http://h:9/p?x", 0, 0, &parts));
    EXPECT_EQ(parts.nPort, 9);
    EXPECT_EQ(Part(parts.lpszExtraInfo, parts.dwExtraInfoLength), "?x");
}

TEST(WinHttpCrackUrl, ComponentsNotAskedForStayEmpty) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    ASSERT_TRUE(WinHttpCrackUrl(u"https://user@h/p?q", 0, 0, &parts));
    EXPECT_EQ(parts.lpszUserName, nullptr);
    EXPECT_EQ(parts.dwUserNameLength, 0u);
    EXPECT_EQ(parts.lpszUrlPath, nullptr);
    EXPECT_EQ(Part(parts.lpszHostName, parts.dwHostNameLength), "h");
}

TEST(WinHttpCrackUrl, CopiesIntoCallerBuffersWithSizing) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    WCHAR host[4];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 4;
    EXPECT_FALSE(WinHttpCrackUrl(u"http://abcd/", 0, 0, &parts));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(parts.dwHostNameLength, 5u);  // characters, terminating zero included

    WCHAR bigger[5];
    parts.lpszHostName = bigger;
    parts.dwHostNameLength = 5;
    ASSERT_TRUE(WinHttpCrackUrl(u"http://abcd/", 0, 0, &parts));
    EXPECT_EQ(parts.dwHostNameLength, 4u);
    EXPECT_EQ(std::u16string(bigger), u"abcd");
}

TEST(WinHttpCrackUrl, RejectsBadArguments) {
    URL_COMPONENTS parts = AskAll();
    EXPECT_FALSE(WinHttpCrackUrl(nullptr, 0, 0, &parts));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    parts.dwStructSize = 3;
    EXPECT_FALSE(WinHttpCrackUrl(u"http://h/", 0, 0, &parts));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
