// The Windows side of platform/winapi.h: the system headers and libraries it brings in give the
// functions the rest of the system calls, with the results it relies on (run under Wine).
#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::wstring ToWide(UINT codePage, const std::string& bytes) {
    int units = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), wide.data(), units);
    return wide;
}

std::string FromWide(UINT codePage, const std::wstring& wide) {
    int size = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

TEST(WindowsPlatform, CodePage936RoundTripsThroughUtf16) {
    struct {
        std::string gbk;
        std::wstring wide;
        std::string utf8;
    } cases[] = {
        {"\xD4\xD8\xC8\xEB\xCD\xBC\xC6\xAC", L"\u8f7d\u5165\u56fe\u7247",
         "\xE8\xBD\xBD\xE5\x85\xA5\xE5\x9B\xBE\xE7\x89\x87"},  // 载入图片
        {"abc", L"abc", "abc"},
        {"", L"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(936, c.gbk), c.wide) << c.gbk;
        EXPECT_EQ(FromWide(936, c.wide), c.gbk) << c.gbk;
        EXPECT_EQ(FromWide(CP_UTF8, c.wide), c.utf8) << c.gbk;
    }
}

TEST(WindowsPlatform, CryptBinaryToStringGivesBase64) {
    struct {
        std::string data;
        std::string base64;
    } cases[] = {{"abc", "YWJj"}, {"ab", "YWI="}, {"\xFB\xFF", "+/8="}};
    for (const auto& c : cases) {
        const auto* data = reinterpret_cast<const BYTE*>(c.data.data());
        DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, size = 0;
        ASSERT_TRUE(CryptBinaryToStringA(data, DWORD(c.data.size()), flags, nullptr, &size));
        std::string text(size, '\0');
        ASSERT_TRUE(CryptBinaryToStringA(data, DWORD(c.data.size()), flags, text.data(), &size));
        text.resize(size);
        EXPECT_EQ(text, c.base64) << c.data;
    }
}

TEST(WindowsPlatform, SystemCookieStoreKeepsCookiesByUrl) {
    ASSERT_TRUE(InternetSetCookieA("http://localhost/shop", "basket", "apples"));
    DWORD size = 0;
    ASSERT_TRUE(InternetGetCookieA("http://localhost/shop/cart", nullptr, nullptr, &size));
    std::string cookies(size, '\0');
    ASSERT_TRUE(InternetGetCookieA("http://localhost/shop/cart", nullptr, cookies.data(), &size));
    EXPECT_STREQ(cookies.c_str(), "basket=apples");
    size = 0;
    // Another host sees none of them.
    EXPECT_FALSE(InternetGetCookieA("http://otherhost/shop", nullptr, nullptr, &size));
}

TEST(WindowsPlatform, HeapReAllocKeepsTheBytes) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    auto* block = static_cast<char*>(HeapAlloc(heap, 0, 4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcd", 4);
    auto* grown = static_cast<char*>(HeapReAlloc(heap, 0, block, 1 << 20));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::string(grown, 4), "abcd");
    EXPECT_TRUE(HeapFree(heap, 0, grown));
}

TEST(WindowsPlatform, WinHttpCracksUrls) {
    struct {
        const wchar_t* url;
        int scheme;
        int port;
        const wchar_t* host;
        const wchar_t* path;
    } cases[] = {
        {L"https://localhost:8443/oauth/token?a=1", INTERNET_SCHEME_HTTPS, 8443, L"localhost",
         L"/oauth/token?a=1"},
        {L"http://example.com", INTERNET_SCHEME_HTTP, 80, L"example.com", L""},
    };
    for (const auto& c : cases) {
        wchar_t host[256] = {}, path[256] = {};
        URL_COMPONENTS parts = {};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = path;
        parts.dwUrlPathLength = 256;
        std::wstring url = c.url;
        ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts))
            << std::string(url.begin(), url.end());
        EXPECT_EQ(int(parts.nScheme), c.scheme);
        EXPECT_EQ(int(parts.nPort), c.port);
        EXPECT_EQ(std::wstring(host), c.host);
        EXPECT_EQ(std::wstring(path), c.path);
    }
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    EXPECT_FALSE(WinHttpCrackUrl(L"not a url", 9, 0, &parts));
}

}  // namespace
