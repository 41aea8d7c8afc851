// What the files of the libcurl-based WinHTTP share: the objects behind the handles, the handle
// table, the error mapping and the UTF-16 conversions.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/strings.h"
#include "platform/posix/winhttp.h"

namespace winhttp::detail {

using platform::posix::EqualsIgnoringCase;
using platform::posix::ForEachEntry;
using platform::posix::Trim;

// ---- Move-only owners of libcurl handles ----

struct EasyFree {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiFree {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ShareFree {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyFree>;
using MultiHandle = std::unique_ptr<CURLM, MultiFree>;
using ShareHandle = std::unique_ptr<CURLSH, ShareFree>;
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

// ---- The objects behind HINTERNET ----

enum class Kind { Session, Connection, Request };

struct Object {
    explicit Object(Kind kind) : kind(kind) {}
    virtual ~Object() = default;
    const Kind kind;
};

// Milliseconds as WinHttpSetTimeouts takes them; 0 or -1 means no limit.
struct Timeouts {
    int resolve = 0;
    int connect = 60000;
    int send = 30000;
    int receive = 30000;
};

struct Proxy {
    bool named = false;  // false: direct connections
    std::string server;  // "host:port"
    std::string bypass;  // libcurl's no-proxy list
};

struct Session : Object {
    Session() : Object(Kind::Session) {}
    std::string agent;
    Timeouts timeouts;
    Proxy proxy;
    // Declared first so that the easy and multi handles using them go first.
    ShareHandle cookieShare;           // cookies, DNS and TLS sessions of this session
    ShareHandle plainShare;            // DNS and TLS sessions, for requests with cookies turned off
    MultiHandle multi;                 // drives every transfer; its pool keeps connections alive
    std::vector<EasyHandle> idleEasy;  // finished easy handles, reset, kept for the next hop
    std::mutex mutex;                  // one call at a time drives the multi handle
};

struct Connection : Object {
    Connection() : Object(Kind::Connection) {}
    std::shared_ptr<Session> session;
    std::string host;  // as given, IPv6 without brackets
    INTERNET_PORT port = 0;
};

struct Header {
    std::string name;
    std::string value;
};

struct Credentials {
    DWORD scheme = 0;  // WINHTTP_AUTH_SCHEME_*; 0 none given
    std::string user;
    std::string password;
};

struct Transfer;
// Ends a hop's transfer; defined where Transfer is complete.
struct TransferFree {
    void operator()(Transfer* transfer) const;
};

struct Request : Object {
    Request() : Object(Kind::Request) {}
    ~Request() override;
    std::shared_ptr<Connection> connection;
    std::string verb;
    std::string path;  // path and query, as given
    bool secure = false;
    bool http10 = false;
    INTERNET_PORT port = 0;
    std::vector<Header> headers;
    Timeouts timeouts;
    bool hasProxyOverride = false;
    Proxy proxyOverride;
    DWORD securityFlags = 0;
    DWORD disabledFeatures = 0;
    Credentials serverCredentials;
    Credentials proxyCredentials;

    // The exchange in progress: body to send, current hop, the final answer's headers. The
    // body is the caller's buffer, which WinHTTP's contract keeps valid until the request
    // completes; it is never copied, and never read after WinHttpReceiveResponse returns.
    const char* body = nullptr;
    size_t bodyLength = 0;
    std::unique_ptr<Transfer, TransferFree> transfer;
    int redirects = 0;
    bool answered = false;  // WinHttpReceiveResponse has succeeded
    std::string rawHeaders;
};

// ---- Handle table: handles are numbers, so stale ones are caught, never dereferenced ----

HINTERNET Register(std::shared_ptr<Object> object);
// The object for `handle` of `kind`; null with ERROR_INVALID_HANDLE or
// ERROR_WINHTTP_INCORRECT_HANDLE_TYPE as the last error.
std::shared_ptr<Object> Find(HINTERNET handle);
std::shared_ptr<Session> FindSession(HINTERNET handle);
std::shared_ptr<Connection> FindConnection(HINTERNET handle);
std::shared_ptr<Request> FindRequest(HINTERNET handle);
bool Unregister(HINTERNET handle);

// ---- Errors ----

DWORD ErrorFromCurl(CURLcode code);
// Sets the last error and returns FALSE, for `return Fail(...)` in the BOOL functions.
BOOL Fail(DWORD error);

// The easy-interface code for a multi or share failure, so that one mapping serves all three.
CURLcode FromMulti(CURLMcode code);
CURLcode FromShare(CURLSHcode code);

// Every libcurl call of a run goes through one of these; the run keeps the first failure, so
// that an option libcurl refuses fails the request instead of going unnoticed.
class CurlCalls {
  public:
    template <typename T>
    void SetOption(CURL* easy, CURLoption option, T value) {
        Check(curl_easy_setopt(easy, option, value));
    }
    template <typename T>
    void SetOption(CURLM* multi, CURLMoption option, T value) {
        Check(curl_multi_setopt(multi, option, value));
    }
    template <typename T>
    void SetOption(CURLSH* share, CURLSHoption option, T value) {
        Check(curl_share_setopt(share, option, value));
    }
    void Check(CURLcode code) {
        if (first == CURLE_OK) first = code;
    }
    void Check(CURLMcode code) { Check(FromMulti(code)); }
    void Check(CURLSHcode code) { Check(FromShare(code)); }
    bool Ok() const { return first == CURLE_OK; }
    CURLcode First() const { return first; }

  private:
    CURLcode first = CURLE_OK;
};

// ---- Text ----

std::string ToUtf8(LPCWSTR text, size_t length);
std::string ToUtf8(LPCWSTR text);  // NUL-terminated; null gives ""
std::u16string ToUtf16(std::string_view text);

// Header list helpers shared by WinHttpAddRequestHeaders and the transfer.
const Header* FindHeader(const std::vector<Header>& headers, std::string_view name);

// Closes whatever transfer the request has running; the session's mutex must be held.
void EndTransfer(Request& request);

}  // namespace winhttp::detail
