#include "service/options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "service/state_dir.h"

namespace service {
namespace {

// Token lifetimes beyond a year make no sense for a local service.
constexpr long maxTokenLifetime = 31536000;
// Beyond what one process can keep open with the usual descriptor limits.
constexpr long maxConnectionsLimit = 1000000;
// Each waiting recognition holds its request body (up to 32 MiB).
constexpr long maxQueueLimit = 4096;
// Two keys during a key change: the new one and the one it replaces.
constexpr size_t maxTokenKeys = 2;
// More threads than this only cost memory on any machine the service runs on.
constexpr long maxThreads = 256;
// A day: a longer idle time is as good as never stopping.
constexpr long maxExitIdle = 86400;
// A clients file is a short list; a huge one is a mistake.
constexpr size_t maxClientsFileLine = 4096;

// "ID:SECRET" into a client; false when either part is empty.
bool ParseClient(const std::string& text, Client& client) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    client = {text.substr(0, colon), text.substr(colon + 1)};
    return true;
}

bool ParseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= low && value <= high;
}

std::string DefaultStateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/recognition-service";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/state/recognition-service";
    }
    return {};
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string hostPart = text.substr(0, colon);
    long number = 0;
    if (!ParseNumber(text.substr(colon + 1), 0, 65535, number)) return false;
    if (hostPart.front() == '[') {
        if (hostPart.size() < 3 || hostPart.back() != ']') return false;
        hostPart = hostPart.substr(1, hostPart.size() - 2);
    } else if (hostPart.find(':') != std::string::npos) {
        return false;  // an IPv6 literal needs brackets before the port
    }
    host = hostPart;
    port = static_cast<int>(number);
    return true;
}

std::string UrlAuthority(const std::string& host, int port) {
    if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        static const std::string withValue[] = {"--listen",
                                                "--state-dir",
                                                "--client",
                                                "--clients-file",
                                                "--cert",
                                                "--key",
                                                "--token-lifetime",
                                                "--max-connections",
                                                "--max-per-address",
                                                "--max-queue",
                                                "--token-key-file",
                                                "--threads",
                                                "--exit-idle",
                                                "--plate-model"};
        if (std::find(std::begin(withValue), std::end(withValue), arg) == std::end(withValue)) {
            error = "unknown option " + arg;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (arg == "--listen") {
            if (!ParseListenAddress(value, options.host, options.port)) {
                error = "--listen wants HOST:PORT, got " + value;
                return std::nullopt;
            }
            options.listenGiven = true;
        } else if (arg == "--state-dir") {
            options.stateDir = value;
        } else if (arg == "--client") {
            Client client;
            if (!ParseClient(value, client)) {
                error = "--client wants ID:SECRET";
                return std::nullopt;
            }
            options.clients.push_back(client);
        } else if (arg == "--clients-file") {
            options.clientsFile = value;
        } else if (arg == "--max-connections" || arg == "--max-per-address") {
            long& limit =
                arg == "--max-connections" ? options.maxConnections : options.maxPerAddress;
            if (!ParseNumber(value, 1, maxConnectionsLimit, limit)) {
                error = arg + " wants a number from 1 to " + std::to_string(maxConnectionsLimit);
                return std::nullopt;
            }
        } else if (arg == "--max-queue") {
            if (!ParseNumber(value, 0, maxQueueLimit, options.maxQueue)) {
                error = "--max-queue wants a number from 0 to " + std::to_string(maxQueueLimit);
                return std::nullopt;
            }
        } else if (arg == "--token-key-file") {
            if (options.tokenKeyFiles.size() == maxTokenKeys) {
                error = "at most " + std::to_string(maxTokenKeys) + " --token-key-file";
                return std::nullopt;
            }
            options.tokenKeyFiles.push_back(value);
        } else if (arg == "--exit-idle") {
            long seconds = 0;
            if (!ParseNumber(value, 0, maxExitIdle, seconds)) {
                error = "--exit-idle wants seconds from 0 to " + std::to_string(maxExitIdle);
                return std::nullopt;
            }
            options.exitIdle = seconds;
        } else if (arg == "--threads") {
            if (!ParseNumber(value, 1, maxThreads, options.threads)) {
                error = "--threads wants a number from 1 to " + std::to_string(maxThreads);
                return std::nullopt;
            }
        } else if (arg == "--cert") {
            options.certFile = value;
        } else if (arg == "--key") {
            options.keyFile = value;
        } else if (arg == "--plate-model") {
            options.plateModel = value;
        } else if (arg == "--token-lifetime") {
            if (!ParseNumber(value, 1, maxTokenLifetime, options.tokenLifetime)) {
                error =
                    "--token-lifetime wants seconds from 1 to " + std::to_string(maxTokenLifetime);
                return std::nullopt;
            }
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (options.certFile.empty() != options.keyFile.empty()) {
        error = "--cert and --key go together";
        return std::nullopt;
    }
    if (options.clients.empty() && options.clientsFile.empty())
        options.clients.push_back({builtInClientId, builtInClientSecret});
    if (options.stateDir.empty()) options.stateDir = DefaultStateDir();
    if (options.stateDir.empty() && options.certFile.empty() && !options.help) {
        error = "no state directory: set HOME or give --state-dir";
        return std::nullopt;
    }
    return options;
}

bool LoadClientsFile(const std::string& path, std::vector<Client>& clients, std::string& error) {
    if (!CheckPrivateFileIfPresent(path, error)) return false;
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the clients file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        Client client;
        if (line.size() > maxClientsFileLine || !ParseClient(line, client)) {
            error = path + ":" + std::to_string(number) + ": wants ID:SECRET";
            return false;
        }
        clients.push_back(client);
    }
    if (file.bad()) {
        error = "cannot read the clients file " + path;
        return false;
    }
    return true;
}

std::string UsageText() {
    return "usage: recognition-service [options]\n"
           "  --listen HOST:PORT     address to listen on (default 127.0.0.1:8443; port 0 picks\n"
           "                         a free one; IPv6 as [::1]:PORT)\n"
           "  --state-dir DIR        where the certificate authority, the server certificate\n"
           "                         and the token key live (default\n"
           "                         $XDG_STATE_HOME/recognition-service, else\n"
           "                         ~/.local/state/recognition-service); made 0700 when new,\n"
           "                         refused when other users can reach it\n"
           "  --client ID:SECRET     a client allowed to get tokens; repeatable (default: the\n"
           "                         tool's built-in API key and secret key). Other local\n"
           "                         users can read it in the process list: prefer\n"
           "  --clients-file PATH    clients from a file, one ID:SECRET a line; the file must\n"
           "                         not be readable by other users\n"
           "  --cert PEM --key PEM   serve this certificate and key instead of making one\n"
           "  --token-lifetime SEC   lifetime of access tokens (default 2592000, 30 days)\n"
           "  --token-key-file PATH  the token key (default DIR/token.key; made when missing);\n"
           "                         replicas with the same key accept each other's tokens.\n"
           "                         Given twice while the key changes: the first signs new\n"
           "                         tokens, both keys validate\n"
           "  --threads N            network threads and recognition workers (default: one\n"
           "                         per core)\n"
           "  --max-connections N    connections open at once (default 1024)\n"
           "  --max-per-address N    connections open at once from one address (default 64)\n"
           "  --max-queue N          recognitions waiting for a worker before new ones are\n"
           "                         answered 503 (default 16)\n"
           "  --exit-idle SECONDS    stop after this long without a connection (default 300\n"
           "                         when started by socket activation, else never; 0 never)\n"
           "  --plate-model ONNX     the plate reader's model (default plate-reader.onnx next to\n"
           "                         the program, else in ../share/recognizer/)\n"
           "  --help                 show this text\n"
           "Started by socket activation (LISTEN_FDS, as systemd's recognition-service.socket\n"
           "does), the service takes the listening socket it is handed; --listen binds instead.\n";
}

}  // namespace service
