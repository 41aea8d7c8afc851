// Driving the session's multi handle until a hop reaches a stage (request sent, final headers,
// body data, its end), with WinHTTP's idle limits on sending and receiving.
#include "platform/posix/winhttp/transfer.h"

namespace winhttp::detail {

namespace {

// Longest single wait in the multi loop, so idle limits are checked often enough.
constexpr int pollSliceMs = 250;

// Ends the hop with `code`: out of the multi handle, done, the code its result.
CURLcode Finish(Transfer& t, CURLcode code) {
    CURLcode detached = Detach(t);
    t.done = true;
    if (t.result == CURLE_OK) t.result = code != CURLE_OK ? code : detached;
    return t.result;
}

bool Reached(const Transfer& t, Until until) {
    switch (until) {
        case Until::Sent:
            return t.blockComplete || (t.connected && t.BodyOut());
        case Until::Headers:
            return t.headersFinal;
        case Until::Data:
            return t.Available() > 0 || t.readFilled > 0;
        case Until::End:
            return false;
    }
    return false;
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

// A hop libcurl has finished: its result, and a refused proxy tunnel as the answer.
void Finished(Transfer& t, CURLcode result) {
    t.result = result;
    Finish(t, CURLE_OK);
    long connectCode = 0;
    CURLcode info = curl_easy_getinfo(t.easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (info == CURLE_OK && t.result != CURLE_OK && connectCode >= 300 && !t.blockComplete) {
        // The proxy refused the tunnel: its status is the answer, as WinHTTP reports it.
        t.block = "HTTP/1.1 " + std::to_string(connectCode) + " " + ReasonPhrase(connectCode) +
                  "\r\n\r\n";
        t.status = int(connectCode);
        t.blockComplete = true;
        t.result = CURLE_OK;
    }
    if (t.result == CURLE_OK && t.blockComplete) t.headersFinal = true;
}

// Marks every hop of the session that libcurl has finished.
void CollectFinished(Session& session) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(session.multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        if (curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE,
                              reinterpret_cast<char**>(&t)) != CURLE_OK ||
            !t) {
            continue;  // not a hop of this layer
        }
        Finished(*t, message->data.result);
    }
}

// The idle limit in force: none while connecting (libcurl's connect timeout holds), the send
// timeout while the body goes out, then the receive timeout.
int IdleLimit(const Transfer& t) {
    if (!t.connected) return 0;
    const Timeouts& timeouts = t.request->timeouts;
    int limit = t.BodyOut() ? timeouts.receive : timeouts.send;
    return limit > 0 ? limit : 0;
}

}  // namespace

void Resume(Transfer& t) {
    t.paused = false;
    CURLcode code = curl_easy_pause(t.easy.get(), CURLPAUSE_CONT);
    if (code != CURLE_OK) Finish(t, code);
}

void NoteProgress(Transfer& t) {
    curl_off_t pretransfer = 0;
    curl_off_t uploaded = 0;
    CurlCalls calls;
    calls.Check(curl_easy_getinfo(t.easy.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer));
    calls.Check(curl_easy_getinfo(t.easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded));
    if (!calls.Ok()) {
        Finish(t, calls.First());
        return;
    }
    if (pretransfer > 0 && !t.connected) {
        t.connected = true;
        t.lastActivity = Clock::now();
    }
    if (uploaded != t.uploaded) {
        t.uploaded = uploaded;
        t.lastActivity = Clock::now();
    }
}

CURLcode DriveNow(Transfer& t) {
    if (t.paused && t.Available() == 0) Resume(t);
    if (t.done) return t.result;
    int running = 0;
    CURLMcode performed = curl_multi_perform(t.session->multi.get(), &running);
    if (performed != CURLM_OK) return Finish(t, FromMulti(performed));
    CollectFinished(*t.session);
    return t.result;
}

CURLcode Drive(Transfer& t, Until until) {
    Session& session = *t.session;
    Clock::time_point waitStart = Clock::now();
    while (!t.done && !Reached(t, until)) {
        if (t.paused && (t.draining || t.Available() == 0)) Resume(t);
        if (t.done) break;
        int running = 0;
        CURLMcode performed = curl_multi_perform(session.multi.get(), &running);
        if (performed != CURLM_OK) return Finish(t, FromMulti(performed));
        CollectFinished(session);
        if (t.done || Reached(t, until)) break;
        NoteProgress(t);
        if (t.done) break;
        int limit = IdleLimit(t);
        int wait = pollSliceMs;
        if (limit > 0) {
            auto since = std::max(t.lastActivity, waitStart);
            auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
            if (idle.count() >= limit) return Finish(t, CURLE_OPERATION_TIMEDOUT);
            wait = std::min<int>(wait, int(limit - idle.count()));
        }
        CURLMcode polled = curl_multi_poll(session.multi.get(), nullptr, 0, wait, nullptr);
        if (polled != CURLM_OK) return Finish(t, FromMulti(polled));
    }
    return t.result;
}

}  // namespace winhttp::detail
