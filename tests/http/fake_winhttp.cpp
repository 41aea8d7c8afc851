// The recording stand-in declared in fake_winhttp.h. Every function of the real WinHTTP layer,
// the two WinINet cookie functions and the heap functions are defined here, so that the test
// executable does not pull the real ones in.
#include "fake_winhttp.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fake {

namespace {

struct Request {
    Answer answer;
    bool received = false;
    std::size_t readPosition = 0;
    DWORD announced = 0;  // what the last WinHttpQueryDataAvailable announced and is not read yet
};

World* current = nullptr;
std::map<HINTERNET, Request> openRequests;
std::uintptr_t nextHandle = 0x1000;
HANDLE const heap = reinterpret_cast<HANDLE>(0xFEED);

HINTERNET NewHandle() {
    nextHandle += 0x10;
    return reinterpret_cast<HINTERNET>(nextHandle);
}

std::u16string Copy(LPCWSTR s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : u"";
}

std::u16string Copy(LPCWSTR s, DWORD length) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), length);
}

// Gives `value` the way WinHttpQueryHeaders does: the size needed without a buffer big enough.
BOOL GiveHeader(const std::u16string& value, LPVOID buffer, LPDWORD length) {
    const DWORD needed = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.c_str(), needed);
    *length = needed - sizeof(char16_t);
    return TRUE;
}

bool StartsWithNoCase(const std::u16string& s, const std::u16string& prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

DWORD OptionCall::Value() const {
    DWORD value = 0;
    std::memcpy(&value, buffer.data(), std::min<std::size_t>(buffer.size(), sizeof(value)));
    return value;
}

std::u16string OptionCall::Text() const {
    std::u16string text(buffer.size() / 2, u'\0');
    std::memcpy(text.data(), buffer.data(), text.size() * 2);
    return text.substr(0, text.find(u'\0'));
}

World& world() {
    return current ? *current : ResetWorld();
}

World& ResetWorld() {
    // One world for the whole run, emptied for each test: references to it stay valid.
    static World theWorld;
    theWorld = World();
    current = &theWorld;
    openRequests.clear();
    return theWorld;
}

std::vector<std::u16string> HeaderLines(DWORD flags) {
    std::vector<std::u16string> lines;
    for (const HeaderCall& call : world().headers) {
        if (call.flags == flags) lines.push_back(call.lines);
    }
    return lines;
}

std::vector<DWORD> OptionValues(DWORD option) {
    std::vector<DWORD> values;
    for (const OptionCall& call : world().options) {
        if (call.option == option) values.push_back(call.Value());
    }
    return values;
}

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string Narrow(const std::u16string& ascii) {
    std::string s;
    for (char16_t c : ascii)
        s.push_back(static_cast<char>(c));
    return s;
}

}  // namespace fake

using fake::world;

HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    world().opens.push_back(
        {fake::Copy(agent), accessType, proxy == nullptr, bypass == nullptr, flags});
    return world().failOpen ? nullptr : fake::NewHandle();
}

BOOL WinHttpCloseHandle(HINTERNET handle) {
    world().closed.push_back(handle);
    fake::openRequests.erase(handle);
    return TRUE;
}

BOOL WinHttpSetTimeouts(HINTERNET handle, int resolve, int connect, int send, int receive) {
    world().timeouts.push_back({handle, resolve, connect, send, receive});
    return handle != nullptr;
}

// Cracks scheme://host[:port][/path][?query] into pointers into the URL, as WinHTTP does.
BOOL WinHttpCrackUrl(LPCWSTR url, DWORD length, DWORD, LPURL_COMPONENTS parts) {
    const std::u16string text = fake::Copy(url, length);
    world().crackedUrls.push_back(text);
    if (world().failCrack) return FALSE;
    std::size_t at = 0;
    if (fake::StartsWithNoCase(text, u"https://")) {
        parts->nScheme = INTERNET_SCHEME_HTTPS;
        parts->nPort = INTERNET_DEFAULT_HTTPS_PORT;
        at = 8;
    } else if (fake::StartsWithNoCase(text, u"http://")) {
        parts->nScheme = INTERNET_SCHEME_HTTP;
        parts->nPort = INTERNET_DEFAULT_HTTP_PORT;
        at = 7;
    } else {
        return FALSE;
    }
    LPWSTR base = const_cast<LPWSTR>(url);
    parts->lpszScheme = base;
    parts->dwSchemeLength = static_cast<DWORD>(at - 3);
    const std::size_t hostEnd = std::min(text.find_first_of(u":/?#", at), text.size());
    if (hostEnd == at) return FALSE;
    parts->lpszHostName = base + at;
    parts->dwHostNameLength = static_cast<DWORD>(hostEnd - at);
    std::size_t pathStart = hostEnd;
    if (hostEnd < text.size() && text[hostEnd] == u':') {
        pathStart = std::min(text.find_first_of(u"/?#", hostEnd), text.size());
        parts->nPort = static_cast<INTERNET_PORT>(
            std::atoi(fake::Narrow(text.substr(hostEnd + 1, pathStart - hostEnd - 1)).c_str()));
    }
    const std::size_t extraStart = std::min(text.find_first_of(u"?#", pathStart), text.size());
    parts->lpszUrlPath = base + pathStart;
    parts->dwUrlPathLength = static_cast<DWORD>(extraStart - pathStart);
    parts->lpszExtraInfo = base + extraStart;
    parts->dwExtraInfoLength = static_cast<DWORD>(text.size() - extraStart);
    return TRUE;
}

HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR host, INTERNET_PORT port, DWORD) {
    HINTERNET handle = world().failConnect ? nullptr : fake::NewHandle();
    world().connects.push_back({session, fake::Copy(host), port, handle});
    return handle;
}

HINTERNET WinHttpOpenRequest(HINTERNET connect, LPCWSTR verb, LPCWSTR path, LPCWSTR version,
                             LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags) {
    HINTERNET handle = world().failOpenRequest ? nullptr : fake::NewHandle();
    world().requests.push_back({connect, fake::Copy(verb), fake::Copy(path), version == nullptr,
                                referrer == nullptr, acceptTypes == nullptr, flags, handle});
    if (handle) fake::openRequests[handle] = {};
    return handle;
}

BOOL WinHttpAddRequestHeaders(HINTERNET request, LPCWSTR lines, DWORD length, DWORD flags) {
    world().headers.push_back({request, fake::Copy(lines, length), length, flags});
    return request != nullptr;
}

BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    fake::OptionCall call{handle, option, {}, length};
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    // The proxy credentials come with their length in characters.
    const bool inCharacters =
        option == WINHTTP_OPTION_PROXY_USERNAME || option == WINHTTP_OPTION_PROXY_PASSWORD;
    const DWORD size = std::min<DWORD>(inCharacters ? length * 2 : length, 64);
    if (bytes) call.buffer.assign(bytes, bytes + size);
    if (option == WINHTTP_OPTION_PROXY && buffer && length == sizeof(WINHTTP_PROXY_INFO)) {
        const auto* info = static_cast<const WINHTTP_PROXY_INFO*>(buffer);
        world().proxies.push_back(
            {info->dwAccessType, fake::Copy(info->lpszProxy), info->lpszProxyBypass == nullptr});
    }
    world().options.push_back(call);
    return handle != nullptr;
}

BOOL WinHttpSetCredentials(HINTERNET request, DWORD target, DWORD scheme, LPCWSTR user,
                           LPCWSTR password, LPVOID params) {
    world().credentials.push_back(
        {request, target, scheme, fake::Copy(user), fake::Copy(password), params == nullptr});
    return request != nullptr;
}

BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD, LPVOID optional,
                        DWORD optionalLength, DWORD totalLength, DWORD_PTR context) {
    const auto* bytes = static_cast<const char*>(optional);
    world().sends.push_back({request, headers == nullptr,
                             bytes ? std::string(bytes, optionalLength) : std::string(),
                             optionalLength, totalLength, context});
    if (!world().sendErrors.empty()) {
        const DWORD error = world().sendErrors.front();
        world().sendErrors.pop_front();
        if (error != 0) {
            SetLastError(error);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID) {
    ++world().receives;
    auto found = fake::openRequests.find(request);
    if (found == fake::openRequests.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    fake::Request& state = found->second;
    if (!world().answers.empty()) {
        state.answer = world().answers.front();
        world().answers.pop_front();
    } else {
        state.answer = world().answer;
    }
    state.received = true;
    state.readPosition = 0;
    return TRUE;
}

BOOL WinHttpQueryHeaders(HINTERNET request, DWORD level, LPCWSTR, LPVOID buffer, LPDWORD length,
                         LPDWORD) {
    auto found = fake::openRequests.find(request);
    if (found == fake::openRequests.end() || !found->second.received) {
        *length = 0;
        SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    const fake::Answer& answer = found->second.answer;
    if (level == WINHTTP_QUERY_RAW_HEADERS_CRLF) {
        if (world().failRawHeaders) {
            *length = 0;
            return FALSE;
        }
        return fake::GiveHeader(answer.rawHeaders, buffer, length);
    }
    if (level == WINHTTP_QUERY_STATUS_CODE)
        return fake::GiveHeader(answer.statusCode, buffer, length);
    if (level == WINHTTP_QUERY_STATUS_TEXT)
        return fake::GiveHeader(answer.statusText, buffer, length);
    *length = 0;
    return FALSE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD available) {
    auto found = fake::openRequests.find(request);
    if (found == fake::openRequests.end() || !found->second.received) return FALSE;
    fake::Request& state = found->second;
    const std::size_t left = state.answer.body.size() - state.readPosition;
    state.announced = static_cast<DWORD>(std::min<std::size_t>(left, state.answer.chunk));
    *available = state.announced;
    return TRUE;
}

BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD room, LPDWORD read) {
    ++world().readCalls;
    world().readRooms.push_back(room);
    auto found = fake::openRequests.find(request);
    if (found == fake::openRequests.end() || !found->second.received) return FALSE;
    fake::Request& state = found->second;
    const DWORD count = std::min(room, state.announced);
    std::memcpy(buffer, state.answer.body.data() + state.readPosition, count);
    state.readPosition += count;
    state.announced -= count;
    *read = count;
    return TRUE;
}

BOOL InternetSetCookieA(LPCSTR url, LPCSTR name, LPCSTR data) {
    world().cookiesSet.push_back({url ? url : "", name ? name : "", data ? data : ""});
    return TRUE;
}

BOOL InternetGetCookieA(LPCSTR url, LPCSTR, LPSTR data, LPDWORD size) {
    world().cookieUrlsAsked.push_back(url ? url : "");
    auto found = world().systemCookieText.find(url ? url : "");
    if (found == world().systemCookieText.end()) {
        *size = 0;
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(found->second.size() + 1);
    if (data == nullptr || *size < needed) {
        *size = needed;
        return data == nullptr;
    }
    std::memcpy(data, found->second.c_str(), needed);
    *size = needed - 1;
    return TRUE;
}

HANDLE GetProcessHeap() {
    return fake::heap;
}

LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
    world().allocSizes.push_back(bytes);
    if (world().failAlloc) return nullptr;
    ++world().liveBlocks;
    return std::malloc(bytes);
}

LPVOID HeapReAlloc(HANDLE, DWORD, LPVOID block, SIZE_T bytes) {
    const int call = static_cast<int>(world().reAllocSizes.size());
    world().reAllocSizes.push_back(bytes);
    if (block == nullptr || call == world().failReAllocCall) return nullptr;
    return std::realloc(block, bytes);
}

BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
    ++world().frees;
    --world().liveBlocks;
    std::free(block);
    return TRUE;
}
