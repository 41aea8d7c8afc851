#include "service/request_log.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace service {
namespace {

// Paths are cut in the log; nobody reads a longer one, and log lines stay small.
constexpr size_t kMaxLoggedPath = 200;

using Clock = std::chrono::steady_clock;

// Each connection is served by one thread, request after request, so the start time of
// the request in progress can live with the thread.
thread_local Clock::time_point requestStart;
thread_local bool started = false;

// Printable ASCII only: a path is the client's text and must not forge log lines.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, kMaxLoggedPath)) {
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

void AddPreRouting(httplib::Server& server, EarlyHandler handler) {
    server.set_pre_routing_handler([handler](const httplib::Request& req, httplib::Response& res) {
        requestStart = Clock::now();
        started = true;
        return handler && handler(req, res) ? httplib::Server::HandlerResponse::Handled
                                            : httplib::Server::HandlerResponse::Unhandled;
    });
}

void InstallRequestLog(httplib::Server& server) {
    AddPreRouting(server, nullptr);
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        double ms = -1;
        if (started) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - requestStart).count();
        }
        started = false;
        // The path without the query (also one hidden in an escaped "?"); one write call
        // keeps lines of parallel requests whole.
        std::string path = req.path.substr(0, req.path.find('?'));
        std::string line = RequestLogLine(req.method, path, res.status, ms) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    });
}

}  // namespace service
