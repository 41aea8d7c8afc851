// WinINet's system cookie store: one store for the whole process, in memory, with the
// matching rules of RFC 6265 (domain, default path, path match, Secure, expiry).
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/strings.h"
#include "platform/posix/url.h"
#include "platform/posix/wininet.h"

namespace {

using platform::posix::Lower;
using platform::posix::Trim;

// The store keeps at most this many cookies; the oldest go first (RFC 6265 section 5.3).
constexpr size_t maxCookies = 3000;

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    bool hostOnly = true;
    std::string path;
    bool secure = false;
    bool persistent = false;
    time_t expires = 0;
    unsigned long long created = 0;  // order of creation, for the order of the answer
};

struct Store {
    std::mutex mutex;
    std::vector<Cookie> cookies;
    unsigned long long nextCreated = 1;
};

Store& TheStore() {
    static auto* store = new Store();
    return *store;
}

struct Url {
    bool secure = false;
    std::string host;  // lower case
    std::string path;  // without query
};

// The parts of an http(s) URL the store matches on, through the shared URL parser.
bool ParseUrl(const char* text, Url& url) {
    if (!text) return false;
    std::string_view s(text);
    platform::posix::UrlParts parts;
    if (platform::posix::SplitUrl(s, parts) != platform::posix::UrlCheck::ok) return false;
    url.secure = parts.secure;
    std::string_view host = s.substr(parts.host.start, parts.host.length);
    if (host.front() == '[') host = host.substr(1, host.size() - 2);
    url.host = Lower(host);
    if (url.host.empty()) return false;
    url.path =
        parts.path.length > 0 ? std::string(s.substr(parts.path.start, parts.path.length)) : "/";
    return true;
}

bool IsIpAddress(const std::string& host) {
    return host.find(':') != std::string::npos || std::all_of(host.begin(), host.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
           });
}

// RFC 6265 5.1.3: the host equals the domain or ends with "." + domain (not for IP addresses).
bool DomainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) return true;
    if (IsIpAddress(host) || host.size() <= domain.size()) return false;
    return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

// RFC 6265 5.1.4: the default path is the URL's path up to, not including, its last "/".
std::string DefaultPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return "/";
    size_t last = path.rfind('/');
    return last == 0 ? "/" : path.substr(0, last);
}

// RFC 6265 5.1.4 path-match.
bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

bool Expired(const Cookie& cookie, time_t now) {
    return cookie.persistent && cookie.expires <= now;
}

// Applies "name=value; attribute; attribute=value" (or the attributes after a given name's
// value) to a new cookie for `url`. False when the cookie must be refused.
bool BuildCookie(const Url& url, const char* name, const std::string& data, Cookie& cookie) {
    std::string pair = data.substr(0, data.find(';'));
    std::string attributes = data.size() > pair.size() ? data.substr(pair.size() + 1) : "";
    if (name && *name) {
        cookie.name = name;
        cookie.value = pair;
    } else {
        size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            cookie.value = Trim(pair);  // a bare value is a cookie with an empty name
        } else {
            cookie.name = Trim(pair.substr(0, equals));
            cookie.value = Trim(pair.substr(equals + 1));
        }
    }
    if (cookie.name.empty() && cookie.value.empty()) return false;
    cookie.domain = url.host;
    cookie.path = DefaultPath(url.path);
    bool maxAgeSeen = false;
    time_t now = time(nullptr);
    size_t start = 0;
    while (start <= attributes.size()) {
        size_t end = attributes.find(';', start);
        if (end == std::string::npos) end = attributes.size();
        std::string attribute = attributes.substr(start, end - start);
        start = end + 1;
        size_t equals = attribute.find('=');
        std::string key = Lower(Trim(attribute.substr(0, equals)));
        std::string value = equals == std::string::npos ? "" : Trim(attribute.substr(equals + 1));
        if (key == "domain" && !value.empty()) {
            if (value[0] == '.') value.erase(0, 1);
            value = Lower(value);
            if (!DomainMatches(url.host, value)) return false;
            cookie.domain = value;
            cookie.hostOnly = IsIpAddress(url.host);
        } else if (key == "path") {
            cookie.path = !value.empty() && value[0] == '/' ? value : DefaultPath(url.path);
        } else if (key == "secure") {
            cookie.secure = true;
        } else if (key == "max-age" && !value.empty()) {
            char* stop = nullptr;
            long long seconds = std::strtoll(value.c_str(), &stop, 10);
            if (*stop) continue;
            cookie.persistent = true;
            cookie.expires = seconds <= 0 ? 0 : now + time_t(seconds);
            maxAgeSeen = true;
        } else if (key == "expires" && !maxAgeSeen && !value.empty()) {
            time_t when = curl_getdate(value.c_str(), nullptr);
            if (when == -1) continue;
            cookie.persistent = true;
            cookie.expires = when;
        }
    }
    return true;
}

// The cookies for `url`, longest path first, then oldest first (RFC 6265 5.4).
std::string CookieHeaderFor(Store& store, const Url& url, const char* name) {
    time_t now = time(nullptr);
    store.cookies.erase(std::remove_if(store.cookies.begin(), store.cookies.end(),
                                       [now](const Cookie& c) { return Expired(c, now); }),
                        store.cookies.end());
    std::vector<const Cookie*> matches;
    for (const Cookie& cookie : store.cookies) {
        bool hostOk =
            cookie.hostOnly ? url.host == cookie.domain : DomainMatches(url.host, cookie.domain);
        if (!hostOk || !PathMatches(url.path, cookie.path)) continue;
        if (cookie.secure && !url.secure) continue;
        if (name && *name && cookie.name != name) continue;
        matches.push_back(&cookie);
    }
    std::stable_sort(matches.begin(), matches.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
        return a->created < b->created;
    });
    std::string header;
    for (const Cookie* cookie : matches) {
        if (!header.empty()) header += "; ";
        header += cookie->name.empty() ? cookie->value : cookie->name + "=" + cookie->value;
    }
    return header;
}

}  // namespace

BOOL InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPCSTR lpszCookieData) {
    Url url;
    if (!ParseUrl(lpszUrl, url)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Cookie cookie;
    if (!BuildCookie(url, lpszCookieName, lpszCookieData ? lpszCookieData : "", cookie)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    auto same = std::find_if(store.cookies.begin(), store.cookies.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    // RFC 6265 5.3 step 11: a replaced cookie keeps its creation order.
    cookie.created = same != store.cookies.end() ? same->created : store.nextCreated++;
    if (same != store.cookies.end()) store.cookies.erase(same);
    if (Expired(cookie, time(nullptr))) return TRUE;  // an expiry in the past deletes
    if (store.cookies.size() >= maxCookies) store.cookies.erase(store.cookies.begin());
    store.cookies.push_back(cookie);
    return TRUE;
}

BOOL InternetGetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPSTR lpszCookieData,
                        LPDWORD lpdwSize) {
    Url url;
    if (!lpdwSize || !ParseUrl(lpszUrl, url)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Store& store = TheStore();
    std::string header;
    {
        std::lock_guard lock(store.mutex);
        header = CookieHeaderFor(store, url, lpszCookieName);
    }
    if (header.empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    DWORD needed = DWORD(header.size() + 1);
    if (!lpszCookieData) {
        *lpdwSize = needed;
        return TRUE;
    }
    if (*lpdwSize < needed) {
        *lpdwSize = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpszCookieData, header.c_str(), needed);
    *lpdwSize = DWORD(header.size());
    return TRUE;
}
