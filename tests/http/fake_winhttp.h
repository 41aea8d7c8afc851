// A recording stand-in for WinHTTP, WinINet's cookie functions and the process heap, linked into
// the unit tests instead of the real libraries. It records what the session hands over and
// answers every request with a scripted answer.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace fake {

// One scripted answer: what WinHttpQueryHeaders and WinHttpReadData give for a request.
struct Answer {
    std::u16string rawHeaders = u"HTTP/1.1 200 OK\r\n\r\n";
    std::u16string statusCode = u"200";
    std::u16string statusText = u"OK";
    std::string body;
    DWORD chunk = 8192;  // most bytes WinHttpQueryDataAvailable announces at a time
};

struct HeaderCall {
    HINTERNET request;
    std::u16string lines;
    DWORD length;
    DWORD flags;
};

struct OptionCall {
    HINTERNET handle;
    DWORD option;
    std::vector<unsigned char> buffer;  // copy of the bytes given (the length given, at most 64)
    DWORD length;
    DWORD Value() const;          // the first four bytes as an integer
    std::u16string Text() const;  // the buffer as a zero-terminated UTF-16 string
};

struct OpenCall {
    std::u16string agent;
    DWORD accessType;
    bool proxyNull, bypassNull;
    DWORD flags;
};

struct ConnectCall {
    HINTERNET session;
    std::u16string host;
    INTERNET_PORT port;
    HINTERNET handle;
};

struct OpenRequestCall {
    HINTERNET connect;
    std::u16string verb, path;
    bool versionNull, referrerNull, acceptNull;
    DWORD flags;
    HINTERNET handle;
};

struct TimeoutsCall {
    HINTERNET handle;
    int resolve, connect, send, receive;
};

struct CredentialsCall {
    HINTERNET request;
    DWORD target, scheme;
    std::u16string user, password;
    bool paramsNull;
};

struct SendCall {
    HINTERNET request;
    bool headersNull;
    std::string body;
    DWORD optionalLength, totalLength;
    DWORD_PTR context;
};

struct ProxyCall {
    DWORD accessType;
    std::u16string proxy;
    bool bypassNull;
};

struct CookieCall {
    std::string url, name, data;
};

struct World {
    // Scripted behaviour.
    std::deque<DWORD> sendErrors;  // per send attempt: 0 succeeds, else fails with that error
    std::deque<Answer> answers;    // per received answer; `answer` when none is left
    Answer answer;
    bool failOpen = false, failCrack = false, failConnect = false, failOpenRequest = false;
    bool failRawHeaders = false;
    bool failAlloc = false;    // HeapAlloc gives 0
    int failReAllocCall = -1;  // HeapReAlloc call (0-based) that gives 0; -1 none
    std::map<std::string, std::string> systemCookieText;  // url -> what InternetGetCookieA gives

    // Recorded calls.
    std::vector<OpenCall> opens;
    std::vector<HINTERNET> closed;
    std::vector<TimeoutsCall> timeouts;
    std::vector<std::u16string> crackedUrls;
    std::vector<ConnectCall> connects;
    std::vector<OpenRequestCall> requests;
    std::vector<HeaderCall> headers;
    std::vector<OptionCall> options;
    std::vector<ProxyCall> proxies;
    std::vector<CredentialsCall> credentials;
    std::vector<SendCall> sends;
    int receives = 0;
    int readCalls = 0;
    std::vector<DWORD> readRooms;  // room offered to each WinHttpReadData
    std::vector<CookieCall> cookiesSet;
    std::vector<std::string> cookieUrlsAsked;
    std::vector<SIZE_T> allocSizes;
    std::vector<SIZE_T> reAllocSizes;
    int frees = 0;
    int liveBlocks = 0;
};

World& world();
// A fresh world for each test; returns it.
World& ResetWorld();

// Lines added with the given flags, in order.
std::vector<std::u16string> HeaderLines(DWORD flags);
// Values given for one option, in order.
std::vector<DWORD> OptionValues(DWORD option);

std::u16string U16(const std::string& ascii);
std::string Narrow(const std::u16string& ascii);

}  // namespace fake
