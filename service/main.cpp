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
#include "service/state_dir.h"
#include "service/tls_context.h"
#include "service/tls_material.h"
#include "service/tokens.h"
#include "service/worker_pool.h"

namespace {

int Fail(const std::string& message) {
    std::cerr << "recognition-service: " << message << "\n";
    return 1;
}

// The key tokens are made with: kept in the state directory, so that tokens outlive a
// restart; for this run only when there is no state directory.
std::optional<service::TokenKey> TokenKeyFor(const service::Options& options, std::string& error) {
    if (options.stateDir.empty()) return service::RandomTokenKey();
    return service::LoadTokenKey(options.stateDir + "/token.key", error);
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
    std::optional<service::TokenKey> tokenKey = TokenKeyFor(options, error);
    if (!tokenKey) return Fail(error.empty() ? "no random source for the token key" : error);
    if (!options.clientsFile.empty() &&
        !service::LoadClientsFile(options.clientsFile, options.clients, error)) {
        return Fail(error);
    }
    if (options.clients.empty())
        return Fail("the clients file " + options.clientsFile + " names no client");
    auto tls = service::MakeTlsContext(certFile, keyFile, error);
    if (!tls) return Fail(error);

    signal(SIGPIPE, SIG_IGN);
    int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    service::ServiceContext context(options, *tokenKey, cores);
    service::WorkerPool workers(cores, int(options.maxQueue));
    service::Server server(context, *tls, workers, {options.maxConnections, options.maxPerAddress});
    int port = server.Listen(options.host, options.port, error);
    if (port <= 0) return Fail(error);
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
