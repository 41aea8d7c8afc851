// recognition-service: the local recognition service, over HTTPS.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "service/options.h"
#include "service/picture.h"
#include "service/request_log.h"
#include "service/routes.h"
#include "service/tls_material.h"

namespace {

// Connections served at once; each holds one thread while it is kept alive.
constexpr size_t kConnectionThreads = 16;
// Requests on one kept-alive connection before the service closes it.
constexpr size_t kKeepAliveRequests = 1000;
// Seconds an idle kept-alive connection stays open.
constexpr time_t kKeepAliveSeconds = 15;
// Seconds the service waits for the next bytes of a request (each read, not the whole
// request: a 32 MiB body on a slow link still arrives). Short, because a stalled client
// holds one of the connection threads that long.
constexpr time_t kReadTimeoutSeconds = 10;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

int Run(const service::Options& options) {
    service::SilenceImageLibrary();
    std::string certFile = options.certFile, keyFile = options.keyFile,
                authority = options.certFile;
    if (certFile.empty()) {
        std::string error;
        std::optional<service::TlsFiles> files =
            service::PrepareTlsMaterial(options.stateDir, error);
        if (!files) {
            std::cerr << "recognition-service: " << error << "\n";
            return 1;
        }
        certFile = files->certFile;
        keyFile = files->keyFile;
        authority = files->authorityFile;
    }

    // Stop signals are taken by one thread only, with sigwait; every other thread inherits
    // the blocked mask.
    sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::SSLServer server(certFile.c_str(), keyFile.c_str());
    if (!server.is_valid()) {
        std::cerr << "recognition-service: cannot load the certificate " << certFile << " and key "
                  << keyFile << "\n";
        return 1;
    }
    int workers = int(std::max(1u, std::thread::hardware_concurrency()));
    service::ServiceContext context(options, workers);
    server.new_task_queue = [] { return new httplib::ThreadPool(kConnectionThreads); };
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_read_timeout(kReadTimeoutSeconds, 0);
    service::InstallRequestLog(server);
    service::InstallRoutes(server, context);

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.host);
    } else if (!server.bind_to_port(options.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        std::cerr << "recognition-service: cannot listen on "
                  << service::UrlAuthority(options.host, options.port) << "\n";
        return 1;
    }
    std::cout << "listening on https://" << service::UrlAuthority(options.host, port) << "\n"
              << "certificate authority: " << authority << std::endl;

    // A signal may come before the server runs, when stopping it would do nothing: wait
    // for it to run (or to have ended) first.
    std::atomic<bool> listenEnded{false};
    std::thread stopper([&server, &listenEnded, stopSignals] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        while (!listenEnded && !server.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        server.stop();
    });
    bool ok = server.listen_after_bind();
    listenEnded = true;
    pthread_kill(stopper.native_handle(), SIGTERM);  // ends the wait if the server ended alone
    stopper.join();
    return ok ? 0 : 1;
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
