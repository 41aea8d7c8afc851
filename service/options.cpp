#include "service/options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iterator>

namespace service {
namespace {

// Token lifetimes beyond a year make no sense for a local service.
constexpr long kMaxTokenLifetime = 31536000;

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
        static const std::string withValue[] = {"--listen",     "--state-dir", "--client",
                                                "--cert",       "--key",       "--token-lifetime",
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
        } else if (arg == "--state-dir") {
            options.stateDir = value;
        } else if (arg == "--client") {
            size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
                error = "--client wants ID:SECRET";
                return std::nullopt;
            }
            options.clients.push_back({value.substr(0, colon), value.substr(colon + 1)});
        } else if (arg == "--cert") {
            options.certFile = value;
        } else if (arg == "--key") {
            options.keyFile = value;
        } else if (arg == "--plate-model") {
            options.plateModel = value;
        } else if (arg == "--token-lifetime") {
            if (!ParseNumber(value, 1, kMaxTokenLifetime, options.tokenLifetime)) {
                error =
                    "--token-lifetime wants seconds from 1 to " + std::to_string(kMaxTokenLifetime);
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
    if (options.clients.empty())
        options.clients.push_back({kBuiltInClientId, kBuiltInClientSecret});
    if (options.stateDir.empty()) options.stateDir = DefaultStateDir();
    if (options.stateDir.empty() && options.certFile.empty() && !options.help) {
        error = "no state directory: set HOME or give --state-dir";
        return std::nullopt;
    }
    return options;
}

std::string UsageText() {
    return "usage: recognition-service [options]\n"
           "  --listen HOST:PORT     address to listen on (default 127.0.0.1:8443; port 0 picks\n"
           "                         a free one; IPv6 as [::1]:PORT)\n"
           "  --state-dir DIR        where the certificate authority and the server certificate\n"
           "                         live (default $XDG_STATE_HOME/recognition-service, else\n"
           "                         ~/.local/state/recognition-service)\n"
           "  --client ID:SECRET     a client allowed to get tokens; repeatable (default: the\n"
           "                         tool's built-in API key and secret key)\n"
           "  --cert PEM --key PEM   serve this certificate and key instead of making one\n"
           "  --token-lifetime SEC   lifetime of access tokens (default 2592000, 30 days)\n"
           "  --plate-model ONNX     the plate reader's model (default plate-reader.onnx next to\n"
           "                         the program, else in ../share/recognizer/)\n"
           "  --help                 show this text\n";
}

}  // namespace service
