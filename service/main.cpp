// recognition-service: the local recognition service, over HTTPS.
#include <signal.h>

#include <algorithm>
#include <iostream>
#include <thread>

#include "service/options.h"
#include "service/picture.h"
#include "service/request_log.h"
#include "service/routes.h"
#include "service/server.h"
#include "service/socket_activation.h"
#include "service/state_dir.h"
#include "service/tls_context.h"
#include "service/tls_material.h"
#include "service/tokens.h"
#include "service/worker_pool.h"

namespace {

// Seconds without a connection after which a socket-activated service stops; the next
// connection starts it again.
constexpr long activatedExitIdle = 300;

int Fail(const std::string& message) {
    std::cerr << "recognition-service: " << message << "\n";
    return 1;
}

// The keys tokens are checked with, the one they are made with first: the --token-key-file
// keys, else the one kept in the state directory, so that tokens outlive a restart and
// replicas sharing the directory or the key file accept each other's tokens; for this run
// only when there is no state directory. Empty on failure, with the reason in error.
std::vector<service::TokenKey> TokenKeysFor(const service::Options& options, std::string& error) {
    std::vector<std::string> files = options.tokenKeyFiles;
    if (files.empty() && !options.stateDir.empty())
        files.push_back(options.stateDir + "/token.key");
    std::vector<service::TokenKey> keys;
    if (files.empty()) {
        std::optional<service::TokenKey> key = service::RandomTokenKey();
        if (key) keys.push_back(*key);
        return keys;
    }
    for (const std::string& file : files) {
        std::optional<service::TokenKey> key = service::LoadTokenKey(file, error);
        if (!key) return {};
        keys.push_back(*key);
    }
    return keys;
}

int Run(service::Options options) {
    service::SilenceImageLibrary();
    std::string error;
    if (!options.stateDir.empty() && !service::PrepareStateDir(options.stateDir, error)) {
        return Fail(error);
    }
    std::string certFile = options.certFile, keyFile = options.keyFile,
                authority = options.certFile;
    if (certFile.empty()) {
        std::optional<service::TlsFiles> files =
            service::PrepareTlsMaterial(options.stateDir, error);
        if (!files) return Fail(error);
        certFile = files->certFile;
        keyFile = files->keyFile;
        authority = files->authorityFile;
    }
    std::vector<service::TokenKey> tokenKeys = TokenKeysFor(options, error);
    if (tokenKeys.empty())
        return Fail(error.empty() ? "no random source for the token key" : error);
    if (!options.clientsFile.empty() &&
        !service::LoadClientsFile(options.clientsFile, options.clients, error)) {
        return Fail(error);
    }
    if (options.clients.empty())
        return Fail("the clients file " + options.clientsFile + " names no client");
    auto tls = service::MakeTlsContext(certFile, keyFile, error);
    if (!tls) return Fail(error);

    signal(SIGPIPE, SIG_IGN);
    int cores = options.threads > 0 ? int(options.threads)
                                    : int(std::max(1u, std::thread::hardware_concurrency()));
    service::ServiceContext context(options, tokenKeys.front(), cores);
    for (size_t i = 1; i < tokenKeys.size(); ++i)
        context.tokens.AlsoAccept(tokenKeys[i]);
    service::WorkerPool workers(cores, int(options.maxQueue));
    service::Server server(context, *tls, workers, {options.maxConnections, options.maxPerAddress});
    // Started by socket activation, the service serves on the socket it is handed (unless
    // --listen says where) and, by default, stops after a while without connections.
    int handed = service::HandedListeningSocket(error);
    if (handed < 0 && !error.empty()) return Fail(error);
    bool activated = handed >= 0 && !options.listenGiven;
    int port = activated ? server.Adopt(handed, options.host, error)
                         : server.Listen(options.host, options.port, error);
    if (port <= 0) return Fail(error);
    long exitIdle = options.exitIdle.value_or(activated ? activatedExitIdle : 0);
    server.StopWhenIdle(std::chrono::seconds(exitIdle));
    // Which replica answered, when several sit behind one front.
    service::SetRequestLogOrigin(service::UrlAuthority(options.host, port));
    std::cout << "listening on https://" << service::UrlAuthority(options.host, port) << "\n"
              << "certificate authority: " << authority << std::endl;
    server.Run(cores);
    workers.Join();
    service::LogEvent("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<service::Options> options = service::ParseOptions(args, error);
    if (!options) {
        std::cerr << "recognition-service: " << error << "\n" << service::UsageText();
        return 2;
    }
    if (options->help) {
        std::cout << service::UsageText();
        return 0;
    }
    return Run(*options);
}
