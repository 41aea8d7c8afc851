// Building one hop of a request: its easy handle, URL, headers, method, body, proxy and
// credentials, and the callbacks through which libcurl hands over the answer and takes the body.
#include <cstdlib>
#include <cstring>

#include "platform/posix/winhttp/transfer.h"

namespace winhttp::detail {

namespace {

// libcurl's receive buffer: large enough for loopback throughput, small against the window.
constexpr long curlBufferBytes = 128 * 1024;
// Idle connections the session's pool keeps for reuse.
constexpr long poolConnections = 16;
// Finished easy handles a session keeps, so that a request does not build one anew.
constexpr size_t idleEasyHandles = 4;
// libcurl copies a body up to this size into the request at once and sends it with the head
// in one write; a longer one it reads through OnRead, piece by piece.
constexpr size_t smallBodyBytes = 64 * 1024 - 1;
// Stand-in for "no limit" where libcurl needs a number: 24 days.
constexpr long noLimitMs = 0x7FFFFFFF;

constexpr std::string_view statusLineStart = "HTTP/";
constexpr size_t statusCodeLength = 3;

}  // namespace

void TransferFree::operator()(Transfer* transfer) const {
    delete transfer;
}

Request::~Request() {
    // Nothing is left to report a failure to: the easy handle's cleanup removes it anyway.
    if (transfer) Detach(*transfer);
}

CURLcode Detach(Transfer& t) {
    if (!t.inMulti) return CURLE_OK;
    t.inMulti = false;
    return FromMulti(curl_multi_remove_handle(t.session->multi.get(), t.easy.get()));
}

void EndTransfer(Request& request) {
    if (!request.transfer) return;
    Transfer& t = *request.transfer;
    // An easy handle libcurl would not let go of is not used again.
    bool reusable = Detach(t) == CURLE_OK;
    if (reusable && t.easy && t.session->idleEasy.size() < idleEasyHandles) {
        curl_easy_reset(t.easy.get());
        t.session->idleEasy.push_back(std::move(t.easy));
    }
    request.transfer.reset();
}

void CompactWindow(Transfer& t) {
    if (t.windowStart == t.window.size()) {
        t.window.clear();
        t.windowStart = 0;
    } else if (t.windowStart >= windowBytes) {
        t.window.erase(0, t.windowStart);
        t.windowStart = 0;
    }
}

void StopUpload(Transfer& t) {
    if (t.uploadStopped || t.bodySent >= t.BodyLength()) return;
    t.uploadStopped = true;
    // The server did not take the whole body: the connection cannot carry another request.
    CURLcode code = curl_easy_setopt(t.easy.get(), CURLOPT_FORBID_REUSE, 1L);
    if (code == CURLE_OK) return;
    Detach(t);
    t.done = true;
    t.result = code;
}

namespace {

// ---- libcurl callbacks ----

bool MayRetryAuthentication(const Transfer& t) {
    if (t.status == 401) return !t.request->serverCredentials.user.empty();
    if (t.status == 407) return !t.request->proxyCredentials.user.empty();
    return false;
}

int StatusOf(std::string_view statusLine) {
    size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    return std::atoi(std::string(statusLine.substr(space + 1, statusCodeLength)).c_str());
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    t->lastActivity = Clock::now();
    std::string_view line(data, length);
    if (line.substr(0, statusLineStart.size()) == statusLineStart) {
        t->block.clear();
        t->blockComplete = false;
        t->headersFinal = false;
        t->status = StatusOf(line);
    } else if (t->block.empty() || t->blockComplete) {
        return length;  // trailers, or lines outside a header block
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    t->block.append(line);
    t->block.append("\r\n");
    if (line.empty()) {
        t->blockComplete = true;
        // An authentication challenge libcurl may answer itself is final only once its body
        // arrives or the hop ends.
        t->headersFinal = t->status >= 200 && !MayRetryAuthentication(*t);
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    t->lastActivity = Clock::now();
    t->headersFinal = true;  // body bytes belong to the final answer of this hop
    if (t->draining) return length;
    if (t->readBuffer && t->Available() == 0 && t->readFilled < t->readRoom) {
        size_t direct = std::min(length, t->readRoom - t->readFilled);
        std::memcpy(t->readBuffer + t->readFilled, data, direct);
        t->readFilled += direct;
        data += direct;
        length -= direct;
        if (length == 0) return size * count;
    } else if (t->Available() >= windowBytes) {
        t->paused = true;  // libcurl keeps this piece and hands it over again on resume
        return CURL_WRITEFUNC_PAUSE;
    }
    CompactWindow(*t);
    t->window.append(data, length);
    return size * count;
}

// The request body, straight from the caller's buffer.
size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    if (t->uploadStopped) return 0;
    size_t n = std::min(size * count, t->BodyLength() - t->bodySent);
    std::memcpy(buffer, t->request->body + t->bodySent, n);
    t->bodySent += n;
    return n;
}

// libcurl sends the body again from the start (authentication, a resent request).
int OnSeek(void* user, curl_off_t offset, int origin) {
    auto* t = static_cast<Transfer*>(user);
    if (origin != SEEK_SET || offset < 0 || size_t(offset) > t->BodyLength() || t->uploadStopped) {
        return CURL_SEEKFUNC_FAIL;
    }
    t->bodySent = size_t(offset);
    return CURL_SEEKFUNC_OK;
}

// ---- Building a hop ----

std::string HostForUrl(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Spaces, controls and bytes above 0x7F are escaped in the request target, as WinHTTP does.
std::string EscapeTarget(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += char(c);
        }
    }
    return out;
}

long CurlAuth(DWORD scheme) {
    switch (scheme) {
        case WINHTTP_AUTH_SCHEME_BASIC:
            return CURLAUTH_BASIC;
        case WINHTTP_AUTH_SCHEME_NTLM:
            return CURLAUTH_NTLM;
        case WINHTTP_AUTH_SCHEME_DIGEST:
            return CURLAUTH_DIGEST;
        case WINHTTP_AUTH_SCHEME_NEGOTIATE:
            return CURLAUTH_NEGOTIATE;
        default:
            return CURLAUTH_ANY;
    }
}

// A line libcurl cannot take fails the hop: a header must never vanish from the request.
void Append(CurlCalls& calls, HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return calls.Check(CURLE_OUT_OF_MEMORY);
    list.release();
    list.reset(grown);
}

// The request's headers as WinHTTP sends them: the caller's in the order added, then
// User-Agent, Content-Length and Connection unless the caller gave them. libcurl writes Host
// itself, first after the request line. Empty lines ("Accept:") stop libcurl from adding
// headers of its own.
HeaderList BuildHeaders(CurlCalls& calls, const Transfer& t) {
    const Request& r = *t.request;
    HeaderList list;
    for (const Header& header : r.headers) {
        Append(calls, list,
               header.value.empty() ? header.name + ";" : header.name + ": " + header.value);
    }
    const std::string& agent = r.connection->session->agent;
    if (!agent.empty() && !FindHeader(r.headers, "User-Agent")) {
        Append(calls, list, "User-Agent: " + agent);
    }
    bool lengthNeeded = t.sendsBody || t.verb == "POST" || t.verb == "PUT";
    if (lengthNeeded && !FindHeader(r.headers, "Content-Length")) {
        Append(calls, list, "Content-Length: " + std::to_string(t.BodyLength()));
    }
    if (!FindHeader(r.headers, "Connection")) Append(calls, list, "Connection: Keep-Alive");
    for (const char* name : {"Accept", "Expect", "Content-Type", "Transfer-Encoding"}) {
        if (!FindHeader(r.headers, name)) Append(calls, list, std::string(name) + ":");
    }
    return list;
}

const Proxy& ProxyFor(const Request& r) {
    return r.hasProxyOverride ? r.proxyOverride : r.connection->session->proxy;
}

void SetTimeouts(CurlCalls& calls, CURL* easy, const Timeouts& timeouts) {
    long connect = timeouts.connect > 0 ? timeouts.connect : noLimitMs;
    if (timeouts.resolve > 0 && connect != noLimitMs) connect += timeouts.resolve;
    calls.SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, connect);
}

void SetMethod(CurlCalls& calls, CURL* easy, Transfer& t) {
    if (t.verb == "HEAD") return calls.SetOption(easy, CURLOPT_NOBODY, 1L);
    if (t.sendsBody || t.verb == "POST") {
        calls.SetOption(easy, CURLOPT_POST, 1L);
        calls.SetOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t.BodyLength()));
        if (t.BodyLength() <= smallBodyBytes) {
            // Copied into the request before anything is sent, so never read later.
            calls.SetOption(easy, CURLOPT_POSTFIELDS, t.sendsBody ? t.request->body : "");
            t.bodySent = t.BodyLength();
        } else {
            calls.SetOption(easy, CURLOPT_READFUNCTION, OnRead);
            calls.SetOption(easy, CURLOPT_READDATA, &t);
            calls.SetOption(easy, CURLOPT_SEEKFUNCTION, OnSeek);
            calls.SetOption(easy, CURLOPT_SEEKDATA, &t);
        }
        if (t.verb != "POST") calls.SetOption(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
        return;
    }
    if (t.verb != "GET") calls.SetOption(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
}

void SetProxy(CurlCalls& calls, CURL* easy, const Request& r) {
    const Proxy& proxy = ProxyFor(r);
    if (!proxy.named) {
        calls.SetOption(easy, CURLOPT_PROXY, "");  // also ignores *_proxy variables
        return;
    }
    std::string server = "http://" + proxy.server;
    calls.SetOption(easy, CURLOPT_PROXY, server.c_str());
    calls.SetOption(easy, CURLOPT_NOPROXY, proxy.bypass.c_str());
    calls.SetOption(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    const Credentials& credentials = r.proxyCredentials;
    if (!credentials.user.empty()) {
        calls.SetOption(easy, CURLOPT_PROXYUSERNAME, credentials.user.c_str());
        calls.SetOption(easy, CURLOPT_PROXYPASSWORD, credentials.password.c_str());
        calls.SetOption(easy, CURLOPT_PROXYAUTH, CurlAuth(credentials.scheme));
    }
}

void SetCredentials(CurlCalls& calls, CURL* easy, const Transfer& t) {
    const Request& r = *t.request;
    const Credentials& credentials = r.serverCredentials;
    bool sameServer = t.host == r.connection->host && t.port == r.port;
    if (credentials.user.empty() || !sameServer) return;
    calls.SetOption(easy, CURLOPT_USERNAME, credentials.user.c_str());
    calls.SetOption(easy, CURLOPT_PASSWORD, credentials.password.c_str());
    calls.SetOption(easy, CURLOPT_HTTPAUTH, CurlAuth(credentials.scheme));
}

// Sets every option of the hop and puts it into the session's multi handle. Nothing goes out
// unless every option was taken.
CURLcode StartHop(Transfer& t) {
    Request& r = *t.request;
    Session& session = *t.session;
    if (!session.idleEasy.empty()) {
        t.easy = std::move(session.idleEasy.back());
        session.idleEasy.pop_back();
    } else {
        t.easy.reset(curl_easy_init());
    }
    if (!t.easy) return CURLE_OUT_OF_MEMORY;
    CURL* easy = t.easy.get();
    t.url = std::string(t.secure ? "https://" : "http://") + HostForUrl(t.host) + ":" +
            std::to_string(t.port) + EscapeTarget(t.target);
    CurlCalls calls;
    t.headerList = BuildHeaders(calls, t);
    bool cookies = (r.disabledFeatures & WINHTTP_DISABLE_COOKIES) == 0;

    calls.SetOption(easy, CURLOPT_PRIVATE, &t);
    calls.SetOption(easy, CURLOPT_URL, t.url.c_str());
    calls.SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    calls.SetOption(easy, CURLOPT_HTTP_VERSION,
                    r.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    calls.SetOption(easy, CURLOPT_PATH_AS_IS, 1L);
    calls.SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    calls.SetOption(easy, CURLOPT_BUFFERSIZE, curlBufferBytes);
    calls.SetOption(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    calls.SetOption(easy, CURLOPT_HEADERDATA, &t);
    calls.SetOption(easy, CURLOPT_WRITEFUNCTION, OnBody);
    calls.SetOption(easy, CURLOPT_WRITEDATA, &t);
    calls.SetOption(easy, CURLOPT_HTTPHEADER, t.headerList.get());
    calls.SetOption(easy, CURLOPT_SHARE,
                    cookies ? session.cookieShare.get() : session.plainShare.get());
    if (cookies) calls.SetOption(easy, CURLOPT_COOKIEFILE, "");
    SetTimeouts(calls, easy, r.timeouts);
    SetMethod(calls, easy, t);
    SetSecurity(calls, easy, t);
    SetProxy(calls, easy, r);
    SetCredentials(calls, easy, t);
    calls.SetOption(session.multi.get(), CURLMOPT_MAXCONNECTS, poolConnections);
    if (!calls.Ok()) return calls.First();
    calls.Check(curl_multi_add_handle(session.multi.get(), easy));
    if (!calls.Ok()) return calls.First();
    t.inMulti = true;
    t.lastActivity = Clock::now();
    return CURLE_OK;
}

}  // namespace

CURLcode NewHop(Request& r, bool secure, const std::string& host, INTERNET_PORT port,
                const std::string& target, const std::string& verb, bool sendsBody) {
    EndTransfer(r);
    std::unique_ptr<Transfer, TransferFree> t(new Transfer);
    t->request = &r;
    t->session = r.connection->session.get();
    t->secure = secure;
    t->host = host;
    t->port = port;
    t->target = target;
    t->verb = verb;
    t->sendsBody = sendsBody && r.bodyLength > 0;
    r.transfer = std::move(t);
    CURLcode code = StartHop(*r.transfer);
    if (code != CURLE_OK) EndTransfer(r);
    return code;
}

}  // namespace winhttp::detail
