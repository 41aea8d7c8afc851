// Command-line options of the recognition service.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace service {

// A client allowed to ask for tokens (OAuth 2.0 client credentials).
struct Client {
    std::string id;
    std::string secret;
};

struct Options {
    std::string host = "127.0.0.1";
    int port = 8443;
    std::string stateDir;  // empty until resolved from the environment
    std::vector<Client> clients;
    std::string certFile;  // the user's own certificate; empty: made in stateDir
    std::string keyFile;
    long tokenLifetime = 2592000;  // seconds; 30 days
    std::string plateModel;        // empty: the default place
    bool help = false;
};

// The tool's built-in API key and secret key: the default client.
inline constexpr const char* kBuiltInClientId = "Qk3TzW8vLhN2pYs6GdXe4RaJ";
inline constexpr const char* kBuiltInClientSecret = "h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";

// Parses argv; on a fault gives nothing and puts a message for the user in error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// "HOST:PORT", "[::1]:PORT" or "::1" style host parts; false when malformed.
bool ParseListenAddress(const std::string& text, std::string& host, int& port);

// The usage text of --help.
std::string UsageText();

// The address as a URL authority: IPv6 literals in brackets.
std::string UrlAuthority(const std::string& host, int port);

}  // namespace service
