// Makes the same WinHTTP calls on either platform, one request per row below, so that the bytes
// Wine's WinHTTP puts on the wire can be compared with those of the Linux layer (wire_compare.sh).
// Each request goes to BASE/NN-name; a failed request prints its error and gives exit code 1.
//   wire-client BASE     BASE: http://127.0.0.1:PORT
#include "platform/winapi.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using WideString = std::basic_string<WCHAR>;

// ASCII to UTF-16: all the rows need.
WideString Wide(const std::string& text) {
    return WideString(text.begin(), text.end());
}

// Closes the WinHTTP handle at scope exit.
struct Handle {
    explicit Handle(HINTERNET handle) : handle(handle) {}
    ~Handle() {
        if (handle) WinHttpCloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET handle;
};

constexpr DWORD add = WINHTTP_ADDREQ_FLAG_ADD;
constexpr DWORD addIfNew = WINHTTP_ADDREQ_FLAG_ADD_IF_NEW;
constexpr DWORD replace = WINHTTP_ADDREQ_FLAG_REPLACE;
constexpr DWORD addOrReplace = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;
// The agent HttpSession gives WinHttpOpen by default.
constexpr char defaultAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2)";
// Room for one answer's body; the recorder answers "ok".
constexpr DWORD readRoom = 4096;

struct Row {
    const char* name;
    const char* verb;
    std::vector<std::pair<std::string, DWORD>> headers;
    std::string body;
};

const Row rows[] = {
    {"get", "GET", {}, ""},
    {"post-empty", "POST", {}, ""},
    {"post-form",
     "POST",
     {{"Content-Type:application/x-www-form-urlencoded", addOrReplace},
      {"Accept:*/*", addIfNew},
      {"Accept-Language:zh-cn", addIfNew},
      {"Cache-Control:no-cache", addIfNew}},
     "image=%59%57%4A%6A"},
    {"get-body", "GET", {}, "data"},
    {"delete", "DELETE", {}, ""},
    {"several-lines", "GET", {{"A:1\r\nB: 2\r\nc:3", add}}, ""},
    {"add-if-new", "GET", {{"X-A:first", add}, {"x-a:second", addIfNew}}, ""},
    {"replace", "GET", {{"X-A:1", add}, {"X-B:2", add}, {"x-a:3", addOrReplace}}, ""},
    {"remove", "GET", {{"X-A:1", add}, {"X-B:2", add}, {"X-A:", replace}}, ""},
    {"own-agent", "GET", {{"User-Agent:Mine", add}}, ""},
    {"cookie", "GET", {{"Cookie:a=1; b=2", addOrReplace}}, ""},
};

bool Send(HINTERNET connection, int index, const Row& row) {
    char path[64];
    std::snprintf(path, sizeof path, "/%02d-%s", index, row.name);
    Handle request(WinHttpOpenRequest(connection, Wide(row.verb).c_str(), Wide(path).c_str(),
                                      nullptr, nullptr, nullptr, 0));
    if (!request.handle) return false;
    for (const auto& [line, flags] : row.headers) {
        WideString wide = Wide(line);
        WinHttpAddRequestHeaders(request.handle, wide.c_str(), DWORD(wide.size()), flags);
    }
    void* body = row.body.empty() ? nullptr : const_cast<char*>(row.body.data());
    DWORD length = DWORD(row.body.size());
    if (!WinHttpSendRequest(request.handle, nullptr, 0, body, length, length, 0)) return false;
    if (!WinHttpReceiveResponse(request.handle, nullptr)) return false;
    char buffer[readRoom];
    DWORD read = 0;
    while (WinHttpReadData(request.handle, buffer, readRoom, &read) && read > 0) {
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wire-client http://127.0.0.1:PORT\n");
        return 2;
    }
    std::string base = argv[1];
    std::size_t colon = base.rfind(':');
    std::string host = base.substr(base.find("//") + 2, colon - base.find("//") - 2);
    auto port = INTERNET_PORT(std::stoi(base.substr(colon + 1)));

    Handle session(
        WinHttpOpen(Wide(defaultAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    Handle connection(WinHttpConnect(session.handle, Wide(host).c_str(), port, 0));
    if (!connection.handle) {
        std::printf("cannot connect: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    int index = 0;
    for (const Row& row : rows) {
        if (!Send(connection.handle, ++index, row)) {
            std::printf("%s: error %lu\n", row.name, (unsigned long)GetLastError());
            return 1;
        }
    }
    std::printf("%d requests sent\n", index);
    return 0;
}
