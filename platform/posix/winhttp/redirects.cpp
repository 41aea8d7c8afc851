// Redirects, followed by WinHTTP's default policy: 301, 302, 303, 307 and 308 up to ten times,
// never from https to http; 303 (and 301 or 302 after a POST) go on as GET without the body.
// The Location is resolved against the hop's URL as RFC 3986 section 5 says (libcurl's URL API).
#include <cstdlib>

#include "platform/posix/winhttp/transfer.h"

namespace winhttp::detail {

namespace {

// WinHTTP follows at most this many redirects by default.
constexpr int maxRedirects = 10;

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

// One part of a parsed URL; `missing` where the URL has none (or libcurl cannot give it).
std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0, const char* missing = "") {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return missing;
    std::string value(text);
    curl_free(text);
    return value;
}

}  // namespace

std::optional<CURLcode> FollowRedirect(Request& r) {
    Transfer& t = *r.transfer;
    bool redirect =
        t.status == 301 || t.status == 302 || t.status == 303 || t.status == 307 || t.status == 308;
    if (!redirect || (r.disabledFeatures & WINHTTP_DISABLE_REDIRECTS) ||
        r.redirects >= maxRedirects) {
        return std::nullopt;
    }
    std::string location = HeaderOf(t.block, "Location");
    if (location.empty()) return std::nullopt;
    std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, t.url.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME);
    bool secure = scheme == "https";
    if ((!secure && scheme != "http") || (t.secure && !secure)) return std::nullopt;
    std::string host = UrlPart(url.get(), CURLUPART_HOST);
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    long port = std::atol(UrlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
    std::string target = UrlPart(url.get(), CURLUPART_PATH, 0, "/");
    std::string query = UrlPart(url.get(), CURLUPART_QUERY);
    if (!query.empty()) target += "?" + query;

    bool toGet = (t.status == 303 && t.verb != "HEAD") ||
                 ((t.status == 301 || t.status == 302) && t.verb == "POST");
    std::string verb = toGet ? "GET" : t.verb;
    bool sendsBody = !toGet && t.sendsBody;

    t.draining = true;  // read the rest of the redirect's body so the connection can be reused
    t.window.clear();
    t.windowStart = 0;
    Drive(t, Until::End);  // how the redirect's body ended does not matter to the next hop
    ++r.redirects;
    return NewHop(r, secure, host, INTERNET_PORT(port), target, verb, sendsBody);
}

}  // namespace winhttp::detail
