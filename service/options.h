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
    std::string stateDir;         // empty until resolved from the environment
    std::vector<Client> clients;  // from --client; the built-in one when none is given
    std::string clientsFile;      // --clients-file: more clients, one ID:SECRET a line
    std::string certFile;         // the user's own certificate; empty: made in stateDir
    // --token-key-file, in the order given: the first signs new tokens, every one validates
    // (two during a key change). Empty: stateDir/token.key.
    std::vector<std::string> tokenKeyFiles;
    std::string keyFile;
    long tokenLifetime = 2592000;  // seconds; 30 days
    long maxConnections = 1024;    // open at once; more are closed at once
    long maxPerAddress = 64;       // open at once from one client address
    long maxQueue = 16;            // recognitions waiting for a worker; more get 503
    long threads = 0;              // network threads and recognition workers; 0: one per core
    bool listenGiven = false;      // --listen given: bind it even when a socket is handed over
    // --exit-idle: stop after this many seconds without a connection; 0 never. Not given: 300
    // when started by socket activation, else never.
    std::optional<long> exitIdle;
    std::string plateModel;  // empty: the default place
    bool help = false;
};

// The tool's built-in API key and secret key: the default client.
inline constexpr const char* builtInClientId = "Qk3TzW8vLhN2pYs6GdXe4RaJ";
inline constexpr const char* builtInClientSecret = "h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";

// Parses argv; on a fault gives nothing and puts a message for the user in error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// Adds the clients of a clients file (one ID:SECRET a line; blank lines and lines starting
// with "#" skipped). Refuses a file other users can read. False with a message in error.
bool LoadClientsFile(const std::string& path, std::vector<Client>& clients, std::string& error);

// "HOST:PORT", "[::1]:PORT" or "::1" style host parts; false when malformed.
bool ParseListenAddress(const std::string& text, std::string& host, int& port);

// The usage text of --help.
std::string UsageText();

// The address as a URL authority: IPv6 literals in brackets.
std::string UrlAuthority(const std::string& host, int port);

}  // namespace service
