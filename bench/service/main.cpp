// The recognition service's HTTPS core under load, next to nginx serving a static JSON of the
// token answer's size over TLS 1.3 on loopback, both measured in the same run:
//   - token requests on 32 keep-alive connections, requests per second;
//   - one keep-alive connection, the median time of a token request;
//   - the 99th percentile of token requests beside 500 connections trickling their heads;
//   - the resident memory that 1,000 connections each sending 1 MB of header lines leave;
//   - plate readings of the sample picture by 50 clients, per core (next to the previous
//     service binary when one is given).
//   build/bench/service [--baseline OLD_SERVICE_BINARY]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_support.h"
#include "tests/integration/service_load/client.h"
#include "tests/support/service_process.h"

namespace {

using namespace loadtest;
using Clock = std::chrono::steady_clock;

constexpr int rateConnections = 32;
constexpr auto rateTime = std::chrono::seconds(2);
constexpr int rateRounds = 3;
constexpr int keepAliveRequests = 1000;
constexpr int slowClients = 500;
constexpr int slowSamples = 200;
constexpr int floodConnections = 1000;
constexpr size_t floodBytes = 1000000;
constexpr int floodSenders = 50;
constexpr int plateClients = 50;
constexpr auto plateTime = std::chrono::seconds(10);
// Beyond every connection the runs open from 127.0.0.1.
const char* const connectionLimit = "4096";

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string KeepAliveTokenRequest() {
    return "POST " + TokenTarget() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n";
}

// Resident memory of a process and its children (nginx's workers), in KiB.
long TreeRssKiB(pid_t root) {
    long total = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        std::string line;
        long rss = 0, parent = -1;
        const pid_t pid = std::atoi(name.c_str());
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) rss = std::atol(line.c_str() + 6);
            if (line.rfind("PPid:", 0) == 0) parent = std::atol(line.c_str() + 5);
        }
        if (pid == root || parent == root) total += rss;
    }
    return total;
}

// A peer on loopback: the service or nginx, with what the runs need to know of it.
struct Peer {
    const char* name;
    int port;
    pid_t pid;
};

// Token requests on rateConnections keep-alive connections for rateTime; requests/s.
double TokenRate(const Tls& tls, const Peer& peer) {
    std::atomic<long> done{0};
    std::atomic<bool> stop{false};
    const std::string request = KeepAliveTokenRequest();
    std::vector<std::thread> clients;
    for (int i = 0; i < rateConnections; ++i) {
        clients.emplace_back([&] {
            TlsConnection connection(tls, peer.port);
            while (!stop && connection.Send(request) && connection.ReadReply().status == 200)
                ++done;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // handshakes
    const long before = done;
    const auto start = Clock::now();
    std::this_thread::sleep_for(rateTime);
    const long counted = done - before;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (std::thread& t : clients)
        t.join();
    return counted / seconds;
}

// Times of `count` token requests on one keep-alive connection, in ms, sorted.
std::vector<double> TokenTimes(const Tls& tls, const Peer& peer, int count, int pauseMs = 0) {
    std::vector<double> times;
    TlsConnection connection(tls, peer.port);
    const std::string request = KeepAliveTokenRequest();
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!connection.Send(request) || connection.ReadReply().status != 200) break;
        times.push_back(Ms(Clock::now() - start));
        if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    std::sort(times.begin(), times.end());
    return times;
}

double Percentile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return -1;
    return sorted[std::min(sorted.size() - 1, size_t(share * sorted.size()))];
}

// The 99th percentile of token requests while slowClients connections send their head one
// line a second.
double P99BesideSlowClients(const Tls& tls, const Peer& peer) {
    std::vector<std::unique_ptr<TlsConnection>> slow;
    for (int i = 0; i < slowClients; ++i) {
        slow.push_back(std::make_unique<TlsConnection>(tls, peer.port, "127.0.0.1", 30));
        slow.back()->Send("POST /oauth/2.0/token HTTP/1.1\r\n");
    }
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (int line = 0; !stop; ++line) {
            for (auto& connection : slow)
                connection->Send("X-Slow-" + std::to_string(line) + ": 1\r\n");
            for (int i = 0; i < 10 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const std::vector<double> times = TokenTimes(tls, peer, slowSamples, 10);
    stop = true;
    trickle.join();
    if (times.size() < size_t(slowSamples)) return -1;
    return Percentile(times, 0.99);
}

// What is left resident after floodConnections connections, all open at once, each sent
// floodBytes of header lines; and the peak on the way. MiB.
void HeaderFlood(const Tls& tls, const Peer& peer, double& left, double& peak) {
    std::string flood = "POST /oauth/2.0/token HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    while (flood.size() < floodBytes)
        flood += "X-Flood: " + std::string(60, 'f') + "\r\n";
    const long before = TreeRssKiB(peer.pid);
    std::atomic<long> highest{before};
    std::atomic<bool> stop{false};
    std::thread sampler([&] {
        while (!stop) {
            highest = std::max(highest.load(), TreeRssKiB(peer.pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::vector<std::unique_ptr<TlsConnection>> connections(floodConnections);
    std::vector<std::thread> senders;
    std::atomic<int> opened{0};
    for (int s = 0; s < floodSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = s; i < floodConnections; i += floodSenders) {
                connections[i] = std::make_unique<TlsConnection>(tls, peer.port, "127.0.0.1", 30);
                ++opened;
            }
            while (opened < floodConnections)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (int i = s; i < floodConnections; i += floodSenders) {
                connections[i]->Send(flood);
                connections[i]->ReadToEnd();
                connections[i].reset();
            }
        });
    }
    for (std::thread& t : senders)
        t.join();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
    sampler.join();
    left = (TreeRssKiB(peer.pid) - before) / 1024.0;
    peak = (highest - before) / 1024.0;
}

// Plate readings of the sample picture (answers with a plate) by plateClients clients for
// plateTime, per core. A client told the service is busy (503) asks again at once.
double PlateRatePerCore(const Tls& tls, int port, const std::string& token) {
    std::ifstream file(RECOGNIZER_SAMPLES "/plate.jpg", std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    const std::string body = "image=" + FormValue(Base64(bytes.str()));
    const std::string request = "POST /rest/2.0/ocr/v1/license_plate?access_token=" + token +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    std::atomic<long> read{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < plateClients; ++i) {
        clients.emplace_back([&] {
            while (!stop) {
                TlsConnection connection(tls, port);
                while (!stop && connection.Send(request)) {
                    const Reply reply = connection.ReadReply();
                    if (reply.status == 0) break;
                    if (reply.body.find("\"plate\"") != std::string::npos) ++read;
                }
            }
        });
    }
    const auto start = Clock::now();
    std::this_thread::sleep_for(plateTime);
    const long counted = read;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (std::thread& t : clients)
        t.join();
    return counted / seconds / std::max(1u, std::thread::hardware_concurrency());
}

std::string TokenOf(const Tls& tls, int port) {
    TlsConnection connection(tls, port);
    connection.Send(KeepAliveTokenRequest());
    return Token(connection.ReadReply());
}

bool StartService(servicetest::ServiceProcess& service, const std::string& binary,
                  const std::string& dir, bool newOptions) {
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir", dir + "/state"};
    if (newOptions) {
        args.insert(args.end(),
                    {"--max-connections", connectionLimit, "--max-per-address", connectionLimit});
    }
    return service.Start(binary, args, dir + "/service.log");
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    std::string baseline;
    if (argc == 3 && std::strcmp(argv[1], "--baseline") == 0) baseline = argv[2];
    Tls tls;

    servicetest::TempDir dir;
    servicetest::ServiceProcess service;
    if (!StartService(service, RECOGNITION_SERVICE_BINARY, dir.Path(), true)) {
        std::fprintf(stderr, "service bench: the service did not start\n");
        return 1;
    }
    const Peer ours{"service", service.Port(), service.Pid()};

    // nginx: the service's own certificate, TLS 1.3, a JSON file as long as a token answer
    // served to the same POST (a static file answers POST through error_page).
    bench::Nginx nginx("service-bench");
    const std::string state = dir.Path() + "/state";
    std::filesystem::copy_file(state + "/server.pem", nginx.Directory() + "/cert.pem");
    std::filesystem::copy_file(state + "/server-key.pem", nginx.Directory() + "/key.pem");
    TlsConnection probe(tls, ours.port);
    probe.Send(KeepAliveTokenRequest());
    const Reply answer = probe.ReadReply();
    std::filesystem::create_directories(nginx.Root() + "/oauth/2.0");
    std::ofstream(nginx.Root() + "/oauth/2.0/token") << std::string(answer.body.size(), 'j');
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    bench::NginxSettings settings{"ssl", cores, 4096};
    const std::string& d = nginx.Directory();
    if (!nginx.Start("    ssl_certificate " + d + "/cert.pem;\n    ssl_certificate_key " + d +
                         "/key.pem;\n    ssl_protocols TLSv1.3;\n    keepalive_requests 1000000;\n"
                         "    location = /oauth/2.0/token {\n      default_type application/json;\n"
                         "      error_page 405 =200 $uri;\n    }\n",
                     settings)) {
        std::fprintf(stderr, "service bench: nginx did not start\n");
        return 1;
    }
    const Peer peer{"nginx", nginx.Port(), nginx.Pid()};
    std::printf("token answer: %zu bytes; %d cores\n", answer.body.size(), cores);

    std::vector<double> rateRatios;
    for (int round = 0; round < rateRounds; ++round) {
        const double mine = TokenRate(tls, ours);
        const double theirs = TokenRate(tls, peer);
        std::printf("round %d: service %.0f requests/s, nginx %.0f requests/s (%d connections)\n",
                    round + 1, mine, theirs, rateConnections);
        rateRatios.push_back(theirs > 0 ? mine / theirs : 0);
    }

    const std::vector<double> mineTimes = TokenTimes(tls, ours, keepAliveRequests);
    const std::vector<double> theirTimes = TokenTimes(tls, peer, keepAliveRequests);
    const double mineMedian = Percentile(mineTimes, 0.5);
    std::printf("keep-alive median: service %.3f ms, nginx %.3f ms\n", mineMedian,
                Percentile(theirTimes, 0.5));

    const double mineP99 = P99BesideSlowClients(tls, ours);
    const double theirP99 = P99BesideSlowClients(tls, peer);
    std::printf("p99 beside %d slow clients: service %.2f ms, nginx %.2f ms\n", slowClients,
                mineP99, theirP99);

    double mineLeft = 0, minePeak = 0, theirLeft = 0, theirPeak = 0;
    HeaderFlood(tls, ours, mineLeft, minePeak);
    HeaderFlood(tls, peer, theirLeft, theirPeak);
    std::printf(
        "header flood (%d connections x 1 MB): service +%.1f MiB left, +%.1f MiB peak; "
        "nginx +%.1f MiB left, +%.1f MiB peak\n",
        floodConnections, mineLeft, minePeak, theirLeft, theirPeak);

    const double plates = PlateRatePerCore(tls, ours.port, TokenOf(tls, ours.port));
    std::printf("plate readings: %.1f per second per core (%d clients)\n", plates, plateClients);
    double baselinePlates = -1;
    if (!baseline.empty()) {
        servicetest::TempDir oldDir;
        servicetest::ServiceProcess old;
        if (StartService(old, baseline, oldDir.Path(), false)) {
            baselinePlates = PlateRatePerCore(tls, old.Port(), TokenOf(tls, old.Port()));
            std::printf("plate readings, %s: %.1f per second per core\n", baseline.c_str(),
                        baselinePlates);
        }
    }

    std::printf("figure service_token_rate_vs_nginx %.2f ratio goal >=0.5\n",
                bench::Median(rateRatios));
    std::printf("figure service_token_p99_ms_beside_500_slow_clients %.2f ms goal <=50\n", mineP99);
    std::printf("figure service_keepalive_token_median_ms %.3f ms goal <=1\n", mineMedian);
    // What stays resident after the flood; the peak while 1,000 connections are open at
    // once is printed above.
    std::printf("figure service_rss_growth_mib_header_flood %.1f MiB goal <=32\n", mineLeft);
    std::printf("figure service_plate_rate_per_core %.1f readings/s goal report\n", plates);
    if (baselinePlates > 0) {
        std::printf("figure service_plate_rate_vs_previous %.2f ratio goal >=0.9\n",
                    plates / baselinePlates);
    }
    return 0;
}
