#include "service/request_log.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace service {
namespace {

// Paths are cut in the log; nobody reads a longer one, and log lines stay small.
constexpr size_t maxLoggedPath = 200;

// " HOST:PORT" after each request line, or nothing; set once before requests are served.
std::string originSuffix;

// Printable ASCII only: a path is the client's text and must not forge log lines.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, maxLoggedPath)) {
        out += c > ' ' && c < 0x7F ? c : '?';
    }
    if (out.empty()) out = "-";
    return out;
}

std::string Now() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

std::string RequestLogLine(const std::string& method, const std::string& path, int status,
                           double ms) {
    char duration[32];
    if (ms >= 0) {
        std::snprintf(duration, sizeof duration, "%.1f ms", ms);
    } else {
        std::snprintf(duration, sizeof duration, "- ms");
    }
    return Now() + " " + Printable(method) + " " + Printable(path) + " " + std::to_string(status) +
           " " + duration;
}

void LogRequest(const std::string& method, const std::string& path, int status, double ms) {
    // The path without the query, also one hidden in an escaped "?" (%3F).
    size_t cut = path.find('?');
    for (const char* escaped : {"%3F", "%3f"})
        cut = std::min(cut, path.find(escaped));
    std::string line =
        RequestLogLine(method, path.substr(0, cut), status, ms) + originSuffix + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void SetRequestLogOrigin(const std::string& origin) {
    originSuffix = " " + Printable(origin);
}

void LogEvent(const std::string& text) {
    std::string line = Now() + " " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace service
