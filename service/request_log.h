// One line per request on standard error: time, method, path without the query, status,
// duration. Never a query, a header or a body, so never a token or a secret.
#pragma once

#include <functional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace service {

// Answers a request before the server reads its body; true when it did.
using EarlyHandler = std::function<bool(const httplib::Request&, httplib::Response&)>;

// Logs every answer the server writes. Owns the server's pre-routing hook, where the start
// of each request is taken; AddPreRouting puts a handler behind it.
void InstallRequestLog(httplib::Server& server);
void AddPreRouting(httplib::Server& server, EarlyHandler handler);

// The line for one request (without the line end); ms < 0 when the start was not seen.
std::string RequestLogLine(const std::string& method, const std::string& path, int status,
                           double ms);

}  // namespace service
