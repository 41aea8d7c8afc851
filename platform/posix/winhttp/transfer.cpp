// Sending a request and streaming its answer: one libcurl easy handle per hop of a request,
// driven by the session's multi handle so that WinHttpReceiveResponse returns once the final
// answer's headers are in and the body is pulled through a small window by
// WinHttpQueryDataAvailable / WinHttpReadData.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held per request before libcurl is paused: keeps memory bounded for any body.
constexpr size_t kWindowBytes = 256 * 1024;
// libcurl's receive buffer: large enough for loopback throughput, small against the window.
constexpr long kCurlBufferBytes = 128 * 1024;
// Longest single wait in the multi loop, so idle limits are checked often enough.
constexpr int kPollSliceMs = 250;
// WinHTTP follows at most this many redirects by default.
constexpr int kMaxRedirects = 10;
// Idle connections the session's pool keeps for reuse.
constexpr long kPoolConnections = 16;
// Finished easy handles a session keeps, so that a request does not build one anew.
constexpr size_t kIdleEasyHandles = 4;
// Stand-in for "no limit" where libcurl needs a number: 24 days.
constexpr long kNoLimitMs = 0x7FFFFFFF;

}  // namespace

// One hop of a request: the request line and headers as sent, and the answer as it arrives.
struct Transfer {
    Request* request = nullptr;
    Session* session = nullptr;
    EasyHandle easy;
    HeaderList headerList;
    std::string url;
    std::string verb;
    bool secure = false;
    std::string host;  // without brackets
    INTERNET_PORT port = 0;
    bool sendsBody = false;

    bool inMulti = false;
    bool done = false;
    CURLcode result = CURLE_OK;

    std::string block;  // the header block being received, lines ending in CR LF
    int status = 0;
    bool blockComplete = false;
    bool headersFinal = false;
    bool draining = false;  // a redirect answer whose body is thrown away

    std::string window;  // body bytes not yet read, from `windowStart`
    size_t windowStart = 0;
    bool paused = false;
    // While WinHttpReadData waits on an empty window, body bytes go straight into its buffer.
    char* target = nullptr;
    size_t targetRoom = 0;
    size_t targetFilled = 0;

    bool connected = false;  // the request has gone on its way: idle limits apply
    curl_off_t uploaded = 0;
    Clock::time_point lastActivity = Clock::now();

    size_t Available() const { return window.size() - windowStart; }
};

void TransferFree::operator()(Transfer* transfer) const {
    delete transfer;
}

Request::~Request() {
    if (transfer && transfer->inMulti) {
        curl_multi_remove_handle(transfer->session->multi.get(), transfer->easy.get());
    }
}

void EndTransfer(Request& request) {
    if (!request.transfer) return;
    Transfer& t = *request.transfer;
    if (t.inMulti) {
        curl_multi_remove_handle(t.session->multi.get(), t.easy.get());
        t.inMulti = false;
    }
    if (t.easy && t.session->idleEasy.size() < kIdleEasyHandles) {
        curl_easy_reset(t.easy.get());
        t.session->idleEasy.push_back(std::move(t.easy));
    }
    request.transfer.reset();
}

namespace {

// ---- libcurl callbacks ----

bool MayRetryAuthentication(const Transfer& t) {
    if (t.status == 401) return !t.request->serverCredentials.user.empty();
    if (t.status == 407) return !t.request->proxyCredentials.user.empty();
    return false;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    t->lastActivity = Clock::now();
    std::string_view line(data, length);
    if (line.substr(0, 5) == "HTTP/") {
        t->block.clear();
        t->blockComplete = false;
        t->headersFinal = false;
        size_t space = line.find(' ');
        t->status = space == std::string_view::npos
                        ? 0
                        : std::atoi(std::string(line.substr(space + 1, 3)).c_str());
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
    if (t->target && t->Available() == 0 && t->targetFilled < t->targetRoom) {
        size_t direct = std::min(length, t->targetRoom - t->targetFilled);
        std::memcpy(t->target + t->targetFilled, data, direct);
        t->targetFilled += direct;
        data += direct;
        length -= direct;
        if (length == 0) return size * count;
    } else if (t->Available() >= kWindowBytes) {
        t->paused = true;  // libcurl keeps this piece and hands it over again on resume
        return CURL_WRITEFUNC_PAUSE;
    }
    if (t->windowStart == t->window.size()) {
        t->window.clear();
        t->windowStart = 0;
    } else if (t->windowStart >= kWindowBytes) {
        t->window.erase(0, t->windowStart);
        t->windowStart = 0;
    }
    t->window.append(data, length);
    return size * count;
}

// ---- Building a hop ----

std::string HostForUrl(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Spaces, controls and bytes above 0x7F are escaped in the request target, as WinHTTP does.
std::string EscapeTarget(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
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

void Append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return;
    list.release();
    list.reset(grown);
}

// The request's headers as WinHTTP sends them: the caller's in the order added, then
// User-Agent, Content-Length and Connection unless the caller gave them. libcurl writes Host
// itself, first after the request line. Empty lines ("Accept:") stop libcurl from adding
// headers of its own.
HeaderList BuildHeaders(const Transfer& t) {
    const Request& r = *t.request;
    HeaderList list;
    for (const Header& header : r.headers) {
        Append(list, header.value.empty() ? header.name + ";" : header.name + ": " + header.value);
    }
    const std::string& agent = r.connection->session->agent;
    if (!agent.empty() && !FindHeader(r.headers, "User-Agent")) {
        Append(list, "User-Agent: " + agent);
    }
    bool lengthNeeded = t.sendsBody || t.verb == "POST" || t.verb == "PUT";
    if (lengthNeeded && !FindHeader(r.headers, "Content-Length")) {
        Append(list, "Content-Length: " + std::to_string(t.sendsBody ? r.body.size() : 0));
    }
    if (!FindHeader(r.headers, "Connection")) Append(list, "Connection: Keep-Alive");
    for (const char* name : {"Accept", "Expect", "Content-Type", "Transfer-Encoding"}) {
        if (!FindHeader(r.headers, name)) Append(list, std::string(name) + ":");
    }
    return list;
}

const Proxy& ProxyFor(const Request& r) {
    return r.hasProxyOverride ? r.proxyOverride : r.connection->session->proxy;
}

void SetTimeouts(CURL* easy, const Timeouts& timeouts) {
    long connect = timeouts.connect > 0 ? timeouts.connect : kNoLimitMs;
    if (timeouts.resolve > 0 && connect != kNoLimitMs) connect += timeouts.resolve;
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connect);
}

void SetMethod(CURL* easy, const Transfer& t) {
    const Request& r = *t.request;
    if (t.verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    if (t.sendsBody || t.verb == "POST") {
        const std::string empty;
        const std::string& body = t.sendsBody ? r.body : empty;
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t.sendsBody ? r.body.data() : "");
        if (t.verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
        return;
    }
    if (t.verb != "GET") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
}

// Certificate errors a request may ignore, by WINHTTP_OPTION_SECURITY_FLAGS, other than the
// host name (which libcurl checks apart).
constexpr DWORD kChainChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                               SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                               SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

int contextTransferIndex = -1;  // SSL_CTX ex-data slot: the hop whose handshake it serves

bool Ignorable(int error, DWORD flags) {
    switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        case X509_V_ERR_INVALID_PURPOSE:
            return flags & SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        default:
            return false;
    }
}

// OpenSSL's verify callback: lets the errors the request ignores pass, so the chain's result
// is X509_V_OK unless another check failed.
int VerifyTolerating(int preverified, X509_STORE_CTX* store) {
    if (preverified) return 1;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!ssl) return 0;
    auto* t =
        static_cast<Transfer*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), contextTransferIndex));
    if (!t || !Ignorable(X509_STORE_CTX_get_error(store), t->request->securityFlags)) return 0;
    X509_STORE_CTX_set_error(store, X509_V_OK);
    // A connection whose certificate failed a check is never used by another request.
    curl_easy_setopt(t->easy.get(), CURLOPT_FORBID_REUSE, 1L);
    return 1;
}

CURLcode ToleratingContext(CURL*, void* context, void* transfer) {
    static std::once_flag once;
    std::call_once(once, [] {
        contextTransferIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    });
    auto* ctx = static_cast<SSL_CTX*>(context);
    if (contextTransferIndex < 0 || !SSL_CTX_set_ex_data(ctx, contextTransferIndex, transfer)) {
        return CURLE_SSL_CERTPROBLEM;
    }
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), VerifyTolerating);
    return CURLE_OK;
}

void SetSecurity(CURL* easy, Transfer& t) {
    const Request& r = *t.request;
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, file);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    DWORD flags = r.securityFlags & (kChainChecks | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    if (flags == 0) return;
    if (flags & kChainChecks) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, ToleratingContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &t);
    }
    if (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    // No TLS session of relaxed checks is resumed later. A connection made without the host
    // name check differs in libcurl's key and is kept apart; one that passed a chain error is
    // closed after use (VerifyTolerating).
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
}

void SetProxy(CURL* easy, const Request& r) {
    const Proxy& proxy = ProxyFor(r);
    if (!proxy.named) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");  // also ignores *_proxy variables
        return;
    }
    std::string server = "http://" + proxy.server;
    curl_easy_setopt(easy, CURLOPT_PROXY, server.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy.bypass.c_str());
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    const Credentials& credentials = r.proxyCredentials;
    if (!credentials.user.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, credentials.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, credentials.password.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CurlAuth(credentials.scheme));
    }
}

bool StartHop(Transfer& t) {
    Request& r = *t.request;
    Session& session = *t.session;
    if (!session.idleEasy.empty()) {
        t.easy = std::move(session.idleEasy.back());
        session.idleEasy.pop_back();
    } else {
        t.easy.reset(curl_easy_init());
    }
    if (!t.easy) return false;
    CURL* easy = t.easy.get();
    t.url = std::string(t.secure ? "https://" : "http://") + HostForUrl(t.host) + ":" +
            std::to_string(t.port) + EscapeTarget(t.url);
    t.headerList = BuildHeaders(t);
    bool cookies = (r.disabledFeatures & WINHTTP_DISABLE_COOKIES) == 0;

    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(easy, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     r.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kCurlBufferBytes);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList.get());
    curl_easy_setopt(easy, CURLOPT_SHARE,
                     cookies ? session.cookieShare.get() : session.plainShare.get());
    if (cookies) curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    SetTimeouts(easy, r.timeouts);
    SetMethod(easy, t);
    SetSecurity(easy, t);
    SetProxy(easy, r);
    const Credentials& credentials = r.serverCredentials;
    bool sameServer = t.host == r.connection->host && t.port == r.port;
    if (!credentials.user.empty() && sameServer) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, credentials.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, credentials.password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CurlAuth(credentials.scheme));
    }
    curl_multi_setopt(session.multi.get(), CURLMOPT_MAXCONNECTS, kPoolConnections);
    if (curl_multi_add_handle(session.multi.get(), easy) != CURLM_OK) return false;
    t.inMulti = true;
    t.lastActivity = Clock::now();
    return true;
}

// A new hop for `r`; `target` is the path and query. False when libcurl cannot start it.
bool NewHop(Request& r, bool secure, const std::string& host, INTERNET_PORT port,
            const std::string& target, const std::string& verb, bool sendsBody) {
    EndTransfer(r);
    std::unique_ptr<Transfer, TransferFree> t(new Transfer);
    t->request = &r;
    t->session = r.connection->session.get();
    t->secure = secure;
    t->host = host;
    t->port = port;
    t->url = target;
    t->verb = verb;
    t->sendsBody = sendsBody && !r.body.empty();
    r.transfer = std::move(t);
    if (StartHop(*r.transfer)) return true;
    EndTransfer(r);
    return false;
}

// ---- Driving the multi handle ----

enum class Until { Sent, Headers, Data, End };

bool Reached(const Transfer& t, Until until) {
    switch (until) {
        case Until::Sent:
            return t.blockComplete ||
                   (t.connected &&
                    (!t.sendsBody || t.uploaded >= curl_off_t(t.request->body.size())));
        case Until::Headers:
            return t.headersFinal;
        case Until::Data:
            return t.Available() > 0 || t.targetFilled > 0;
        case Until::End:
            return false;
    }
    return false;
}

void Resume(Transfer& t) {
    t.paused = false;
    curl_easy_pause(t.easy.get(), CURLPAUSE_CONT);
}

// Reason phrases for a proxy that refused a tunnel: libcurl does not pass on its header block.
std::string ReasonPhrase(long status) {
    switch (status) {
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 407:
            return "Proxy Authentication Required";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

// Marks every hop of the session that libcurl has finished.
void CollectFinished(Session& session) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(session.multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
        if (!t) continue;
        t->done = true;
        t->result = message->data.result;
        curl_multi_remove_handle(session.multi.get(), message->easy_handle);
        t->inMulti = false;
        long connectCode = 0;
        curl_easy_getinfo(t->easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (t->result != CURLE_OK && connectCode >= 300 && !t->blockComplete) {
            // The proxy refused the tunnel: its status is the answer, as WinHTTP reports it.
            t->block = "HTTP/1.1 " + std::to_string(connectCode) + " " + ReasonPhrase(connectCode) +
                       "\r\n\r\n";
            t->status = int(connectCode);
            t->blockComplete = true;
            t->result = CURLE_OK;
        }
        if (t->result == CURLE_OK && t->blockComplete) t->headersFinal = true;
    }
}

void NoteProgress(Transfer& t) {
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer > 0 && !t.connected) {
        t.connected = true;
        t.lastActivity = Clock::now();
    }
    curl_off_t uploaded = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (uploaded != t.uploaded) {
        t.uploaded = uploaded;
        t.lastActivity = Clock::now();
    }
}

// The idle limit in force: none while connecting (libcurl's connect timeout holds), the send
// timeout while the body goes out, then the receive timeout.
int IdleLimit(const Transfer& t) {
    if (!t.connected) return 0;
    const Timeouts& timeouts = t.request->timeouts;
    bool sending = t.sendsBody && t.uploaded < curl_off_t(t.request->body.size());
    int limit = sending ? timeouts.send : timeouts.receive;
    return limit > 0 ? limit : 0;
}

void Drive(Transfer& t, Until until) {
    Session& session = *t.session;
    Clock::time_point waitStart = Clock::now();
    while (!t.done && !Reached(t, until)) {
        if (t.paused && (t.draining || t.Available() == 0)) Resume(t);
        int running = 0;
        if (curl_multi_perform(session.multi.get(), &running) != CURLM_OK) {
            EndTransfer(*t.request);
            return;
        }
        CollectFinished(session);
        if (t.done || Reached(t, until)) return;
        NoteProgress(t);
        int limit = IdleLimit(t);
        int wait = kPollSliceMs;
        if (limit > 0) {
            auto since = std::max(t.lastActivity, waitStart);
            auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
            if (idle.count() >= limit) {
                curl_multi_remove_handle(session.multi.get(), t.easy.get());
                t.inMulti = false;
                t.done = true;
                t.result = CURLE_OPERATION_TIMEDOUT;
                return;
            }
            wait = std::min<int>(wait, int(limit - idle.count()));
        }
        curl_multi_poll(session.multi.get(), nullptr, 0, wait, nullptr);
    }
}

// ---- Redirects ----

std::string HeaderOf(const std::string& block, std::string_view name) {
    size_t start = block.find("\r\n");
    while (start != std::string::npos && start + 2 < block.size()) {
        start += 2;
        size_t end = block.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string_view line(block.data() + start, end - start);
        size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualsIgnoringCase(line.substr(0, colon), name)) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            return std::string(value);
        }
        start = end;
    }
    return "";
}

struct UrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return "";
    std::string value(text);
    curl_free(text);
    return value;
}

// Follows the redirect `t` answered with, by WinHTTP's default policy. False when the answer
// is no redirect to follow: then it stays the request's answer.
bool FollowRedirect(Request& r) {
    Transfer& t = *r.transfer;
    bool redirect =
        t.status == 301 || t.status == 302 || t.status == 303 || t.status == 307 || t.status == 308;
    if (!redirect || (r.disabledFeatures & WINHTTP_DISABLE_REDIRECTS) ||
        r.redirects >= kMaxRedirects) {
        return false;
    }
    std::string location = HeaderOf(t.block, "Location");
    if (location.empty()) return false;
    std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, t.url.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
        return false;
    }
    std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME);
    bool secure = scheme == "https";
    if ((!secure && scheme != "http") || (t.secure && !secure)) return false;
    std::string host = UrlPart(url.get(), CURLUPART_HOST);
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    long port = std::atol(UrlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
    std::string target = UrlPart(url.get(), CURLUPART_PATH);
    std::string query = UrlPart(url.get(), CURLUPART_QUERY);
    if (!query.empty()) target += "?" + query;

    bool toGet = (t.status == 303 && t.verb != "HEAD") ||
                 ((t.status == 301 || t.status == 302) && t.verb == "POST");
    std::string verb = toGet ? "GET" : t.verb;
    bool sendsBody = !toGet && t.sendsBody;

    t.draining = true;  // read the rest of the redirect's body so the connection can be reused
    t.window.clear();
    t.windowStart = 0;
    Drive(t, Until::End);
    ++r.redirects;
    return NewHop(r, secure, host, INTERNET_PORT(port), target, verb, sendsBody);
}

}  // namespace

}  // namespace winhttp::detail

using namespace winhttp::detail;

BOOL WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                        LPVOID lpOptional, DWORD dwOptionalLength, DWORD, DWORD_PTR) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    if (!lpOptional && dwOptionalLength > 0) return Fail(ERROR_INVALID_PARAMETER);
    if (lpszHeaders && dwHeadersLength != 0 &&
        !WinHttpAddRequestHeaders(hRequest, lpszHeaders, dwHeadersLength,
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
        return FALSE;
    }
    Request& r = *request;
    std::lock_guard lock(r.connection->session->mutex);
    EndTransfer(r);
    r.answered = false;
    r.rawHeaders.clear();
    r.redirects = 0;
    r.body.assign(static_cast<const char*>(lpOptional), dwOptionalLength);
    if (!NewHop(r, r.secure, r.connection->host, r.port, r.path, r.verb, true)) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    Transfer& t = *r.transfer;
    Drive(t, Until::Sent);
    if (!r.transfer) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
    NoteProgress(t);
    bool requestWentOut = t.connected && (!t.sendsBody || t.uploaded >= curl_off_t(r.body.size()));
    if (t.done && t.result != CURLE_OK && !requestWentOut) {
        DWORD error = ErrorFromCurl(t.result);
        EndTransfer(r);
        return Fail(error);
    }
    return TRUE;  // a failure of the answer is WinHttpReceiveResponse's to report
}

BOOL WinHttpReceiveResponse(HINTERNET hRequest, LPVOID) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    Request& r = *request;
    std::lock_guard lock(r.connection->session->mutex);
    if (!r.transfer) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (r.answered) return TRUE;
    for (;;) {
        Drive(*r.transfer, Until::Headers);
        if (!r.transfer) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
        Transfer& t = *r.transfer;
        if (!t.headersFinal) {
            DWORD error = t.done ? ErrorFromCurl(t.result) : ERROR_WINHTTP_INTERNAL_ERROR;
            if (error == ERROR_SUCCESS) error = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
            EndTransfer(r);
            return Fail(error);
        }
        if (FollowRedirect(r)) continue;
        if (!r.transfer) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        r.rawHeaders = r.transfer->block;
        r.answered = true;
        return TRUE;
    }
}

BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    Request& r = *request;
    std::lock_guard lock(r.connection->session->mutex);
    if (!r.answered || !r.transfer) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    Transfer& t = *r.transfer;
    if (t.Available() == 0 && !t.done) {
        Drive(t, Until::Data);
        if (!r.transfer) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
    }
    if (t.Available() == 0 && t.done && t.result != CURLE_OK) {
        return Fail(ErrorFromCurl(t.result));
    }
    if (lpdwNumberOfBytesAvailable) {
        *lpdwNumberOfBytesAvailable = DWORD(std::min<size_t>(t.Available(), UINT32_MAX));
    }
    return TRUE;
}

BOOL WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                     LPDWORD lpdwNumberOfBytesRead) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Request& r = *request;
    std::lock_guard lock(r.connection->session->mutex);
    if (!r.answered || !r.transfer) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    Transfer& t = *r.transfer;
    *lpdwNumberOfBytesRead = 0;
    if (dwNumberOfBytesToRead == 0) return TRUE;
    size_t count = 0;
    if (t.Available() == 0 && !t.done) {
        t.target = static_cast<char*>(lpBuffer);
        t.targetRoom = dwNumberOfBytesToRead;
        t.targetFilled = 0;
        Drive(t, Until::Data);
        if (!r.transfer) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
        count = t.targetFilled;
        t.target = nullptr;
        t.targetRoom = t.targetFilled = 0;
    }
    size_t fromWindow = std::min<size_t>(t.Available(), dwNumberOfBytesToRead - count);
    if (count + fromWindow == 0 && t.done && t.result != CURLE_OK) {
        return Fail(ErrorFromCurl(t.result));
    }
    std::memcpy(static_cast<char*>(lpBuffer) + count, t.window.data() + t.windowStart, fromWindow);
    t.windowStart += fromWindow;
    count += fromWindow;
    if (t.windowStart == t.window.size()) {
        t.window.clear();
        t.windowStart = 0;
    }
    if (t.paused && t.Available() < kWindowBytes / 2) Resume(t);
    *lpdwNumberOfBytesRead = DWORD(count);
    return TRUE;
}
