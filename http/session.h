// HttpSession: a synchronous HTTP client over the WinHTTP API. One WinHTTP session, at most one
// connection and one request at a time, the last answer's raw headers and body, and the settings
// that shape every request (default headers, cookie mode and store, redirects, proxy credentials,
// the one-shot certificate-error override, timeouts).
//
// Texts are code page 936; everything handed to WinHTTP is converted to UTF-16 first. Failures
// are results (false, 0, empty), never exceptions. Flags count as true only when exactly 1.
#pragma once

#include <optional>

#include "platform/winapi.h"
#include "text/text.h"

// The process heap that holds every session's receive buffer. Set by the program at start-up,
// or by the first session constructed while it is still 0.
extern HANDLE processHeap;

class HttpSession {
  public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Lifecycle (lifecycle.cpp). OpenSession on an open session closes it first.
    void OpenSession(const std::optional<Text>& agent = std::nullopt);
    void Close();
    void ResetDefaults();

    // Cookie capture and attachment, run by Send and ApplyPendingOptions.
    void CaptureResponseCookies(int keepStoredCookies = 0);
    void StoreResponseCookiesInSystem(int keepStoredCookies = 0);
    bool StoreCookiesInSystem(const Text& cookies);
    bool AttachCookieHeader();
    bool AttachSystemCookieHeader();
    void AddDefaultHeaders(bool hasBody);
    void ApplyPendingOptions();
    bool ReadResponseHeaders(int keepStoredCookies = 0);
    void FollowRedirect(int keepStoredCookies, int retries);

    // The three handles; a given value replaces the field (the handle held before is not closed)
    // and is then owned, and closed, by the session. The result is the field afterwards.
    HINTERNET SessionHandle(std::optional<HINTERNET> value = std::nullopt);
    HINTERNET ConnectHandle(std::optional<HINTERNET> value = std::nullopt);
    HINTERNET RequestHandle(std::optional<HINTERNET> value = std::nullopt);

    void SetDefaultHeaders(int enabled = 1);
    // 0 WinHTTP's own cookies, 1 the session's own store, 2 the system store; others give 0.
    void SetCookieMode(int mode = 1);
    void Reset(const std::optional<Text>& agent = std::nullopt);

    // Opening, sending, receiving. An empty method means "GET".
    bool Open(const Text& method, const Text& url);
    bool Send(const Text& body = Text(), int keepStoredCookies = 0, int retries = 0);
    bool SendBytes(const Bytes& body = Bytes(), int keepStoredCookies = 0, int retries = 0);
    Bytes GetResponseBody();

    // The last answer.
    Text GetResponseRawText();
    Text GetResponseText();
    int GetStatus();
    Text GetStatusText();
    Text GetAllResponseHeaders();
    Text GetResponseHeader(const Text& name);
    Text GetResponseCookies();
    Text GetResponseCookie(const Text& name);
    Text GetRedirectLocation(int absolute = 0);

    // Settings. SetOption's handleKind: 1 the connection, 2 the request, anything else the
    // session; value is one 32-bit integer, length passed as given.
    // WinHTTP's time-outs in milliseconds, for requests opened afterwards.
    static constexpr int defaultResolveTimeout = 10000;
    static constexpr int defaultConnectTimeout = 15000;
    static constexpr int defaultSendTimeout = 120000;
    static constexpr int defaultReceiveTimeout = 300000;
    bool SetTimeouts(int resolveTimeout = defaultResolveTimeout,
                     int connectTimeout = defaultConnectTimeout,
                     int sendTimeout = defaultSendTimeout,
                     int receiveTimeout = defaultReceiveTimeout);
    int SetProxy(const Text& proxyServer = Text(), const Text& userName = Text(),
                 const Text& password = Text());
    int SetCredentials(const Text& userName, const Text& password,
                       int authTarget = WINHTTP_AUTH_TARGET_SERVER,
                       int authScheme = WINHTTP_AUTH_SCHEME_BASIC);
    bool SetOption(int handleKind, int option, int value, int length);
    void SetFollowRedirects(int follow = 1);

    // Request headers, on the request Open made; 0 when WinHTTP did not take the line.
    int SetRequestHeader(const Text& name, const Text& value,
                         DWORD flags = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    int RemoveRequestHeader(const Text& name);
    int SetCookieHeader(const Text& cookies);
    int SetUserAgent(const std::optional<Text>& agent = std::nullopt);
    int SetReferer(const std::optional<Text>& referer = std::nullopt);
    int SetAccept(const std::optional<Text>& accept = std::nullopt);
    int SetAcceptLanguage(const std::optional<Text>& language = std::nullopt);
    int SetContentType(const std::optional<Text>& contentType = std::nullopt);
    int SetAjaxHeader();
    int SetForwardedIp(const Text& ip);

    // The own cookie store. Cookies(): the entries joined by "; "; Cookies(text): replaces the
    // store with text as it stands and returns it.
    Text Cookies(const std::optional<Text>& cookies = std::nullopt);
    Text GetCookie(const Text& name, int withName = 0);
    int MergeCookies(const Text& cookies);
    int RemoveCookies(const Text& names);

    // Arms (1) or disarms (anything else) the certificate-error override for the next request
    // sent, so that a caller can have its first request after Reset checked normally.
    void SetIgnoreCertErrors(int ignore = 1);

    // State, in this order. Public so that callers and tests can look at it; change it through
    // the operations above.
    HINTERNET sessionHandle = nullptr;
    HINTERNET connectHandle = nullptr;
    HINTERNET requestHandle = nullptr;
    Text host;
    int port = 0;
    Text url;        // with "http://" in front when it was given without scheme
    int scheme = 0;  // INTERNET_SCHEME_HTTP or INTERNET_SCHEME_HTTPS
    int isPost = 0;
    LPVOID receiveBuffer = nullptr;  // block of processHeap
    int receivedLength = 0;          // 0: the body has not been read
    int contentLength = 0;           // -1 unknown, 0 nothing to read
    Text responseHeaders;            // raw block, status line first, lines ending in "\r\n"
    int defaultHeadersEnabled = 0;
    int cookieMode = 0;
    Text cookieStore;  // "; " then every entry name=value followed by "; "
    int cookieStoreLength = 0;
    int redirectsDisabled = 0;
    int redirectCount = 0;
    int proxyCredentialsPending = 0;
    Text proxyUser;
    Text proxyPassword;
    int ignoreCertErrorsPending = 0;

  private:
    void ReleaseHandles();
    bool SendBody(const void* body, int length, int keepStoredCookies, int retries);
    bool SendAttempts(const void* body, int length, int retries);
    bool EnsureBodyRead();
    int SetNamedHeader(const char* name, const std::optional<Text>& value, const Text& fallback);
};
