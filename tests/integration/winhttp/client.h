// Small helpers for driving WinHTTP in tests: handle owners, UTF-16 literals, one whole fetch.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/winapi.h"

namespace testclient {

// Closes the handle at scope exit.
class Internet {
  public:
    explicit Internet(HINTERNET handle = nullptr) : handle(handle) {}
    ~Internet() {
        if (handle) WinHttpCloseHandle(handle);
    }
    Internet(Internet&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    Internet& operator=(Internet&& other) noexcept {
        std::swap(handle, other.handle);
        return *this;
    }
    HINTERNET get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

  private:
    HINTERNET handle;
};

// ASCII (and UTF-8 without surrogates) to UTF-16, enough for test literals.
std::u16string W(const std::string& text);
std::string Narrow(const std::u16string& text);

struct Call {
    std::string verb = "GET";
    std::string url;
    std::vector<std::pair<std::string, DWORD>> headers;  // lines and flags
    std::string body;
    std::function<void(HINTERNET request)> setup;  // options, credentials
};

struct Answer {
    bool sent = false;
    bool received = false;
    DWORD error = 0;  // GetLastError after the first failing call
    DWORD status = 0;
    std::string rawHeaders;  // WINHTTP_QUERY_RAW_HEADERS_CRLF
    std::string body;
    bool bodyOk = false;
};

// Opens a session with `agent` (none when null).
Internet OpenSession(const char16_t* agent = u"TestAgent/1.0");
// Cracks the URL, connects, opens the request (secure for https), adds the headers, runs the
// setup, sends, receives and reads the whole body with QueryDataAvailable / ReadData.
Answer Fetch(HINTERNET session, const Call& call);
// WinHttpQueryHeaders with the sizing protocol, as a string.
std::string QueryText(HINTERNET request, DWORD level);

}  // namespace testclient
