// Construction, opening and closing the WinHTTP session, and the session-wide settings.
#include "http/detail/constants.h"
#include "http/detail/wide.h"
#include "http/session.h"

HANDLE processHeap = nullptr;

namespace {
constexpr int maxCookieMode = 2;  // 0 WinHTTP's cookies, 1 own store, 2 system store
}  // namespace

HttpSession::HttpSession() {
    if (processHeap == nullptr) processHeap = GetProcessHeap();
    OpenSession();
    ResetDefaults();
}

HttpSession::~HttpSession() {
    Close();
}

void HttpSession::OpenSession(const std::optional<Text>& agent) {
    // An open session would otherwise lose its handles and its buffer.
    ReleaseHandles();
    const http::detail::WideText agentWide(agent ? *agent : Text(http::detail::defaultAgent));
    sessionHandle = WinHttpOpen(agentWide.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    receiveBuffer = HeapAlloc(processHeap, 0, http::detail::receiveBufferStep);
}

void HttpSession::ReleaseHandles() {
    if (requestHandle != nullptr) WinHttpCloseHandle(requestHandle);
    if (connectHandle != nullptr) WinHttpCloseHandle(connectHandle);
    if (sessionHandle != nullptr) WinHttpCloseHandle(sessionHandle);
    if (receiveBuffer != nullptr) HeapFree(processHeap, 0, receiveBuffer);
    requestHandle = nullptr;
    connectHandle = nullptr;
    sessionHandle = nullptr;
    receiveBuffer = nullptr;
    receivedLength = 0;
    contentLength = 0;
}

void HttpSession::Close() {
    ReleaseHandles();
    port = 0;
    redirectsDisabled = 0;
    proxyCredentialsPending = 0;
    responseHeaders = Text();
    proxyUser = Text();
    proxyPassword = Text();
    host = Text();
    url = Text();
}

void HttpSession::ResetDefaults() {
    defaultHeadersEnabled = 1;
    cookieMode = 0;
    ignoreCertErrorsPending = 1;
    cookieStore = "; ";
    cookieStoreLength = 2;
    if (sessionHandle == nullptr) return;
    WinHttpSetTimeouts(sessionHandle, defaultResolveTimeout, defaultConnectTimeout,
                       defaultSendTimeout, defaultReceiveTimeout);
}

void HttpSession::Reset(const std::optional<Text>& agent) {
    Close();
    OpenSession(agent);
    ResetDefaults();
}

HINTERNET HttpSession::SessionHandle(std::optional<HINTERNET> value) {
    if (value) sessionHandle = *value;
    return sessionHandle;
}

HINTERNET HttpSession::ConnectHandle(std::optional<HINTERNET> value) {
    if (value) connectHandle = *value;
    return connectHandle;
}

HINTERNET HttpSession::RequestHandle(std::optional<HINTERNET> value) {
    if (value) requestHandle = *value;
    return requestHandle;
}

void HttpSession::SetDefaultHeaders(int enabled) {
    defaultHeadersEnabled = enabled;
}

void HttpSession::SetCookieMode(int mode) {
    cookieMode = (mode >= 0 && mode <= maxCookieMode) ? mode : 0;
}

void HttpSession::SetFollowRedirects(int follow) {
    redirectsDisabled = 1 - (follow & 1);
}

bool HttpSession::SetTimeouts(int resolveTimeout, int connectTimeout, int sendTimeout,
                              int receiveTimeout) {
    if (sessionHandle == nullptr) return false;
    return WinHttpSetTimeouts(sessionHandle, resolveTimeout, connectTimeout, sendTimeout,
                              receiveTimeout) != 0;
}

bool HttpSession::SetOption(int handleKind, int option, int value, int length) {
    HINTERNET handle = sessionHandle;
    if (handleKind == 1) handle = connectHandle;
    if (handleKind == 2) handle = requestHandle;
    if (handle == nullptr) return false;
    // WinHTTP reads `length` bytes of the one integer held here; more would read past it.
    if (length < 0 || length > static_cast<int>(sizeof(DWORD))) return false;
    DWORD buffer = static_cast<DWORD>(value);
    return WinHttpSetOption(handle, static_cast<DWORD>(option), &buffer,
                            static_cast<DWORD>(length)) != 0;
}

void HttpSession::SetIgnoreCertErrors(int ignore) {
    ignoreCertErrorsPending = ignore == 1 ? 1 : 0;
}
