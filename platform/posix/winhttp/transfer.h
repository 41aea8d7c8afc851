// One hop of a request (an easy handle in the session's multi handle) and what the files of the
// sending and receiving path share about it: building a hop, driving the multi handle, the
// certificate override and redirects.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

using Clock = std::chrono::steady_clock;

// Body bytes held per request before libcurl is paused: keeps memory bounded for any body.
constexpr size_t windowBytes = 256 * 1024;

// One hop of a request: the request line and headers as sent, and the answer as it arrives.
struct Transfer {
    Request* request = nullptr;
    Session* session = nullptr;
    EasyHandle easy;
    HeaderList headerList;
    std::string target;  // path and query, as the hop asks for them
    std::string url;     // the whole URL libcurl is given
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
    char* readBuffer = nullptr;
    size_t readRoom = 0;
    size_t readFilled = 0;

    // The request body goes out from the caller's buffer; `bodySent` bytes so far. Once the
    // answer has ended the exchange early, the rest is never read (`uploadStopped`).
    size_t bodySent = 0;
    bool uploadStopped = false;

    bool connected = false;  // the request has gone on its way: idle limits apply
    curl_off_t uploaded = 0;
    Clock::time_point lastActivity = Clock::now();

    size_t Available() const { return window.size() - windowStart; }
    size_t BodyLength() const { return sendsBody ? request->bodyLength : 0; }
    // Everything that will go out of the body has: all of it, or what went before a stop.
    bool BodyOut() const {
        return !sendsBody || uploadStopped || uploaded >= curl_off_t(request->bodyLength);
    }
};

// ---- Building a hop (hop.cpp) ----

// Takes the hop out of the multi handle, if it is in; the one place that does.
CURLcode Detach(Transfer& t);
// Drops the bytes of the window already read, so that it does not grow with the body.
void CompactWindow(Transfer& t);
// Ends `r`'s hop and starts a new one; `target` is the path and query. CURLE_OK, or why
// libcurl could not start it (then the request has no hop).
CURLcode NewHop(Request& r, bool secure, const std::string& host, INTERNET_PORT port,
                const std::string& target, const std::string& verb, bool sendsBody);
// Stops sending the body: the answer has come before all of it went out.
void StopUpload(Transfer& t);

// ---- The certificate override (tls_override.cpp) ----

// The CA file and the certificate errors the request ignores, as options of its hop.
void SetSecurity(CurlCalls& calls, CURL* easy, Transfer& t);

// ---- Driving the multi handle (drive.cpp) ----

enum class Until { Sent, Headers, Data, End };

// Runs the session's transfers until `t` reaches `until` or ends. Never frees `t`: when it ends,
// `t.done` is set and `t.result` says how; the result is returned.
CURLcode Drive(Transfer& t, Until until);
// Runs the session's transfers once, without waiting: what libcurl can deliver now.
CURLcode DriveNow(Transfer& t);
// Lets a paused hop go on; a failure ends it.
void Resume(Transfer& t);
// Takes the upload's and the connection's progress from libcurl.
void NoteProgress(Transfer& t);

// ---- Redirects (redirects.cpp) ----

// Follows the redirect `r`'s hop answered with, by WinHTTP's default policy: CURLE_OK with the
// next hop running, or why it could not start (then `r` has no hop). Nothing when the answer is
// no redirect to follow: then it stays the request's answer.
std::optional<CURLcode> FollowRedirect(Request& r);

}  // namespace winhttp::detail
