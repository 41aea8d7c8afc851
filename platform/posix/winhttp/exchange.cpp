// Sending a request and streaming its answer: WinHttpSendRequest returns once the request has
// gone out, WinHttpReceiveResponse once the final answer's headers are in (redirects followed),
// and WinHttpQueryDataAvailable / WinHttpReadData pull the body through the hop's small window.
#include <cstring>
#include <mutex>

#include "platform/posix/winhttp/transfer.h"

using namespace winhttp::detail;

namespace {

// Ends the request's hop and fails the call with the WinHTTP error for `code`.
BOOL FailHop(Request& r, CURLcode code) {
    DWORD error = ErrorFromCurl(code);
    EndTransfer(r);
    return Fail(error);
}

// Lets body bytes go straight from libcurl into the caller's buffer (room bytes at buffer), waiting
// for the first ones or taking only what is there now; the count delivered.
size_t ReadDirect(Transfer& t, char* buffer, size_t room, bool wait) {
    t.readBuffer = buffer;
    t.readRoom = room;
    t.readFilled = 0;
    if (wait) {
        Drive(t, Until::Data);
    } else {
        DriveNow(t);
    }
    size_t filled = t.readFilled;
    t.readBuffer = nullptr;
    t.readRoom = t.readFilled = 0;
    return filled;
}

}  // namespace

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
    r.body = static_cast<const char*>(lpOptional);
    r.bodyLength = dwOptionalLength;
    CURLcode started = NewHop(r, r.secure, r.connection->host, r.port, r.path, r.verb, true);
    if (started != CURLE_OK) return Fail(ErrorFromCurl(started));
    Transfer& t = *r.transfer;
    Drive(t, Until::Sent);
    NoteProgress(t);
    bool requestWentOut = t.connected && t.BodyOut();
    if (t.done && t.result != CURLE_OK && !requestWentOut) return FailHop(r, t.result);
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
        Transfer& t = *r.transfer;
        Drive(t, Until::Headers);
        if (!t.headersFinal) {
            CURLcode code = t.done ? t.result : CURLE_FAILED_INIT;
            return FailHop(r, code == CURLE_OK ? CURLE_WEIRD_SERVER_REPLY : code);
        }
        std::optional<CURLcode> followed = FollowRedirect(r);
        if (!followed) break;
        if (*followed != CURLE_OK) return Fail(ErrorFromCurl(*followed));
    }
    Transfer& t = *r.transfer;
    // The caller may free the body once this returns: what did not go out never will.
    StopUpload(t);
    r.rawHeaders = t.block;
    r.answered = true;
    return TRUE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
    std::shared_ptr<Request> request = FindRequest(hRequest);
    if (!request) return FALSE;
    Request& r = *request;
    std::lock_guard lock(r.connection->session->mutex);
    if (!r.answered || !r.transfer) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    Transfer& t = *r.transfer;
    if (t.Available() == 0 && !t.done) Drive(t, Until::Data);
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
    char* buffer = static_cast<char*>(lpBuffer);
    size_t count = 0;
    if (t.Available() == 0 && !t.done) count = ReadDirect(t, buffer, dwNumberOfBytesToRead, true);
    size_t fromWindow = std::min<size_t>(t.Available(), dwNumberOfBytesToRead - count);
    if (count + fromWindow == 0 && t.done && t.result != CURLE_OK) {
        return Fail(ErrorFromCurl(t.result));
    }
    std::memcpy(buffer + count, t.window.data() + t.windowStart, fromWindow);
    t.windowStart += fromWindow;
    count += fromWindow;
    CompactWindow(t);
    // What libcurl can hand over at once fills the rest of the buffer without a stop in the
    // window.
    if (count < dwNumberOfBytesToRead && t.Available() == 0 && !t.done) {
        count += ReadDirect(t, buffer + count, dwNumberOfBytesToRead - count, false);
    }
    if (t.paused && t.Available() < windowBytes / 2) Resume(t);
    *lpdwNumberOfBytesRead = DWORD(count);
    return TRUE;
}
