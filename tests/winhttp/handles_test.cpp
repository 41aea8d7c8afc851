// Handles: wrong, stale and wrong-kind handles fail with the WinHTTP codes, never crash.
#include <gtest/gtest.h>

#include <functional>

#include "platform/winapi.h"

namespace {

HINTERNET OpenSession() {
    return WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
}

TEST(WinHttpHandles, BadHandlesAreReported) {
    HINTERNET session = OpenSession();
    ASSERT_NE(session, nullptr);
    HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", 80, 0);
    ASSERT_NE(connection, nullptr);
    HINTERNET request = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
    ASSERT_NE(request, nullptr);
    HINTERNET stale = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(WinHttpCloseHandle(stale));
    HINTERNET bogus = reinterpret_cast<HINTERNET>(0x12345678);
    DWORD available = 0;
    struct {
        const char* call;
        std::function<BOOL()> run;
        DWORD error;
    } cases[] = {
        {"close null", [&] { return WinHttpCloseHandle(nullptr); }, ERROR_INVALID_HANDLE},
        {"close stale", [&] { return WinHttpCloseHandle(stale); }, ERROR_INVALID_HANDLE},
        {"send on bogus", [&] { return WinHttpSendRequest(bogus, nullptr, 0, nullptr, 0, 0, 0); },
         ERROR_INVALID_HANDLE},
        {"send on stale", [&] { return WinHttpSendRequest(stale, nullptr, 0, nullptr, 0, 0, 0); },
         ERROR_INVALID_HANDLE},
        {"send on session",
         [&] { return WinHttpSendRequest(session, nullptr, 0, nullptr, 0, 0, 0); },
         ERROR_WINHTTP_INCORRECT_HANDLE_TYPE},
        {"receive on connection", [&] { return WinHttpReceiveResponse(connection, nullptr); },
         ERROR_WINHTTP_INCORRECT_HANDLE_TYPE},
        {"receive before send", [&] { return WinHttpReceiveResponse(request, nullptr); },
         ERROR_WINHTTP_INCORRECT_HANDLE_STATE},
        {"data before answer", [&] { return WinHttpQueryDataAvailable(request, &available); },
         ERROR_WINHTTP_INCORRECT_HANDLE_STATE},
        {"connect on bogus", [&] { return BOOL(WinHttpConnect(bogus, u"h", 80, 0) != nullptr); },
         ERROR_INVALID_HANDLE},
        {"connect on connection",
         [&] { return BOOL(WinHttpConnect(connection, u"h", 80, 0) != nullptr); },
         ERROR_WINHTTP_INCORRECT_HANDLE_TYPE},
        {"timeouts below -1", [&] { return WinHttpSetTimeouts(session, -2, 0, 0, 0); },
         ERROR_INVALID_PARAMETER},
        {"unknown option", [&] { return WinHttpSetOption(request, 9999, &available, 4); },
         ERROR_WINHTTP_INVALID_OPTION},
        {"request option on session",
         [&] { return WinHttpSetOption(session, WINHTTP_OPTION_SECURITY_FLAGS, &available, 4); },
         ERROR_WINHTTP_INCORRECT_HANDLE_TYPE},
        {"short option buffer",
         [&] { return WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &available, 2); },
         ERROR_INSUFFICIENT_BUFFER},
        {"credentials with two schemes",
         [&] {
             return WinHttpSetCredentials(request, 0,
                                          WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NTLM,
                                          u"u", u"p", nullptr);
         },
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& row : cases) {
        SetLastError(0);
        EXPECT_FALSE(row.run()) << row.call;
        EXPECT_EQ(GetLastError(), row.error) << row.call;
    }
    EXPECT_TRUE(WinHttpCloseHandle(request));
    EXPECT_TRUE(WinHttpCloseHandle(connection));
    EXPECT_TRUE(WinHttpCloseHandle(session));
}

}  // namespace
