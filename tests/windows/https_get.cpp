// Fetches one URL with the system's WinHTTP and prints "status N", or "error N" with the
// GetLastError code of the call that failed. Exit code 0 for an answer, 1 for an error.
//   https-get URL
#include "platform/winapi.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Host and path of a URL are far shorter than this.
constexpr DWORD partLength = 2048;

int Fail(const char* step) {
    std::printf("error %lu (%s)\n", GetLastError(), step);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: https-get URL\n");
        return 2;
    }
    std::wstring url(argv[1], argv[1] + std::string(argv[1]).size());
    wchar_t host[partLength] = {}, path[partLength] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = partLength;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = partLength;
    if (!WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts)) return Fail("crack");

    Handle session(WinHttpOpen(L"https-get", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    if (!session) return Fail("open");
    Handle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) return Fail("connect");
    DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    Handle request(
        WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, nullptr, nullptr, secure));
    if (!request) return Fail("request");
    if (!WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0)) return Fail("send");
    if (!WinHttpReceiveResponse(request.get(), nullptr)) return Fail("receive");
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             nullptr, &status, &size, nullptr))
        return Fail("status");
    std::printf("status %lu\n", status);
    return 0;
}
