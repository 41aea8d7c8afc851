// The one URL parser of the POSIX implementations: splits an http or https URL into its parts
// (RFC 3986 authority and path syntax), for WinHttpCrackUrl (UTF-16) and the WinINet cookie
// store (UTF-8). Parts are positions in the URL, so that each caller takes them as it needs.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform::posix {

struct UrlPart {
    size_t start = 0;
    size_t length = 0;
};

enum class UrlCheck { ok, unknownScheme, invalid };

struct UrlParts {
    bool secure = false;  // https
    UrlPart scheme, user, password;
    UrlPart host;       // IPv6 addresses with their brackets
    unsigned port = 0;  // the scheme's default port when the URL gives none
    UrlPart path;       // up to "?" or "#"; may be empty
    UrlPart extra;      // query and fragment, from "?" or "#"
};

constexpr unsigned maxUrlPort = 65535;
constexpr unsigned defaultHttpPort = 80;
constexpr unsigned defaultHttpsPort = 443;

namespace url_detail {

template <typename Char>
bool SchemeIs(std::basic_string_view<Char> scheme, std::string_view name) {
    if (scheme.size() != name.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
        Char c = scheme[i];
        if (c >= 'A' && c <= 'Z') c = Char(c - 'A' + 'a');
        if (c != Char(name[i])) return false;
    }
    return true;
}

template <typename Char>
bool IsAsciiAlpha(Char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Host and port from the authority's end part [host][:port]; false when malformed.
template <typename Char>
bool SplitHostPort(std::basic_string_view<Char> url, size_t hostStart, size_t authorityEnd,
                   UrlParts& parts) {
    constexpr size_t none = std::basic_string_view<Char>::npos;
    size_t portStart = none;
    parts.host = {hostStart, 0};
    if (hostStart < authorityEnd && url[hostStart] == Char('[')) {
        size_t close = url.find(Char(']'), hostStart);
        if (close == none || close > authorityEnd) return false;
        parts.host.length = close + 1 - hostStart;
        if (close + 1 < authorityEnd) {
            if (url[close + 1] != Char(':')) return false;
            portStart = close + 2;
        }
    } else {
        size_t portColon = url.substr(hostStart, authorityEnd - hostStart).find(Char(':'));
        parts.host.length = portColon == none ? authorityEnd - hostStart : portColon;
        if (portColon != none) portStart = hostStart + portColon + 1;
    }
    if (parts.host.length == 0) return false;
    for (size_t i = parts.host.start; i < parts.host.start + parts.host.length; ++i) {
        if (url[i] <= Char(' ') || url[i] == Char(0x7F)) return false;
    }
    if (portStart == none || portStart >= authorityEnd) return true;
    parts.port = 0;
    for (size_t i = portStart; i < authorityEnd; ++i) {
        if (url[i] < Char('0') || url[i] > Char('9')) return false;
        parts.port = parts.port * 10 + unsigned(url[i] - Char('0'));
        if (parts.port > maxUrlPort) return false;
    }
    return true;
}

}  // namespace url_detail

// scheme "://" [user[":"password]"@"] host [":"port] [path] ["?"query] ["#"fragment]
template <typename Char>
UrlCheck SplitUrl(std::basic_string_view<Char> url, UrlParts& parts) {
    constexpr size_t none = std::basic_string_view<Char>::npos;
    const Char delimiters[] = {Char('/'), Char('?'), Char('#'), Char(0)};
    const Char extraDelimiters[] = {Char('?'), Char('#'), Char(0)};
    parts = UrlParts();
    size_t colon = url.find(Char(':'));
    if (colon == none || colon == 0 || !url_detail::IsAsciiAlpha(url[0])) {
        return UrlCheck::unknownScheme;
    }
    std::basic_string_view<Char> scheme = url.substr(0, colon);
    if (url_detail::SchemeIs(scheme, "https")) {
        parts.secure = true;
    } else if (!url_detail::SchemeIs(scheme, "http")) {
        return UrlCheck::unknownScheme;
    }
    parts.scheme = {0, colon};
    parts.port = parts.secure ? defaultHttpsPort : defaultHttpPort;
    const Char slashes[] = {Char('/'), Char('/'), Char(0)};
    if (url.substr(colon + 1, 2) != std::basic_string_view<Char>(slashes)) {
        return UrlCheck::invalid;
    }

    size_t authorityStart = colon + 3;
    size_t authorityEnd = url.find_first_of(delimiters, authorityStart);
    if (authorityEnd == none) authorityEnd = url.size();
    std::basic_string_view<Char> authority =
        url.substr(authorityStart, authorityEnd - authorityStart);
    size_t hostStart = authorityStart;
    size_t at = authority.rfind(Char('@'));
    if (at != none) {
        size_t userColon = authority.substr(0, at).find(Char(':'));
        parts.user = {authorityStart, userColon == none ? at : userColon};
        if (userColon != none)
            parts.password = {authorityStart + userColon + 1, at - userColon - 1};
        hostStart = authorityStart + at + 1;
    }
    if (!url_detail::SplitHostPort(url, hostStart, authorityEnd, parts)) return UrlCheck::invalid;

    size_t extraStart = url.find_first_of(extraDelimiters, authorityEnd);
    if (extraStart == none) extraStart = url.size();
    parts.path = {authorityEnd, extraStart - authorityEnd};
    parts.extra = {extraStart, url.size() - extraStart};
    return UrlCheck::ok;
}

}  // namespace platform::posix
