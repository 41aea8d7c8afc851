// One line per request on standard error: time, method, path without the query, status,
// duration and the address the service listens on. Never a query, a header or a body, so never
// a token or a secret.
#pragma once

#include <string>

namespace service {

// The line for one request (without the line end); ms < 0 when the start was not seen.
std::string RequestLogLine(const std::string& method, const std::string& path, int status,
                           double ms);

// Ends every later request line with origin (the address the service listens on), so that
// the logs of replicas behind one front say which one answered. Call before serving.
void SetRequestLogOrigin(const std::string& origin);

// Writes the line of one request; one write call keeps lines of parallel requests whole.
void LogRequest(const std::string& method, const std::string& path, int status, double ms);

// Writes a line about the service itself (start, limits, stop), after the time.
void LogEvent(const std::string& text);

}  // namespace service
