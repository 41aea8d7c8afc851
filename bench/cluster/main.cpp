// Replicas of the service behind the nginx front, each cluster started by scripts/run-cluster,
// under load from cpp-httplib clients with kept-alive connections:
//   - plate readings per second through the front with three single-threaded replicas, next to
//     one single-threaded replica behind the same front, taking turns in every round;
//   - token latency through the front with 50 clients at once, next to the same 50 clients on
//     one replica directly;
//   - plate readings under load while one replica is killed (SIGKILL) and started again by the
//     script: every answer must be the service's JSON (a reading, or the front's 502).
#include <httplib.h>
#include <openssl/evp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_support.h"
#include "cluster_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Clients posting plate pictures at once: enough to keep three replicas busy.
constexpr int plateClients = 6;
constexpr int rateRounds = 7;
constexpr auto rateRound = std::chrono::seconds(3);
// Load before measuring: every replica loads its models on its first reading.
constexpr auto warmUp = std::chrono::seconds(3);
constexpr int tokenClients = 50;
constexpr int tokensPerClient = 40;
constexpr auto killLoad = std::chrono::seconds(10);
constexpr auto killAfter = std::chrono::seconds(3);
constexpr time_t readTimeoutSeconds = 120;

const char* const tokenPath =
    "/oauth/2.0/token?grant_type=client_credentials&client_id=Qk3TzW8vLhN2pYs6GdXe4RaJ"
    "&client_secret=h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";
const char* const formMediaType = "application/x-www-form-urlencoded";

// The body "image=" + the picture, Base64-encoded (OpenSSL) and percent-encoded.
std::string PlateBody() {
    std::string bytes = servicetest::ReadFile(PLATE_PICTURE);
    std::string base64(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
    base64.resize(size_t(std::max(length, 0)));
    std::string body = "image=";
    for (char c : base64) {
        if (c == '+')
            body += "%2B";
        else if (c == '/')
            body += "%2F";
        else if (c == '=')
            body += "%3D";
        else
            body += c;
    }
    return body;
}

// A cluster of the real service behind nginx, started by scripts/run-cluster.
class Cluster : public servicetest::ClusterProcess {
  public:
    Cluster() : ClusterProcess(RUN_CLUSTER_SCRIPT, RECOGNITION_SERVICE_BINARY) {}
    bool Start(int replicas, const std::vector<std::string>& serviceOptions) {
        if (ClusterProcess::Start(replicas, serviceOptions)) return true;
        std::fprintf(stderr, "cluster: run-cluster did not start:\n%s", ScriptLog().c_str());
        return false;
    }
};

std::unique_ptr<httplib::SSLClient> Client(int port, const std::string& authority) {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path(authority.c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(readTimeoutSeconds, 0);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);  // headers and body go in two writes: no wait for an ACK
    return client;
}

std::string Token(int port, const std::string& authority) {
    auto answer = Client(port, authority)->Post(tokenPath, "", formMediaType);
    if (!answer || answer->status != 200) return "";
    return nlohmann::json::parse(answer->body, nullptr, false).value("access_token", "");
}

// What the plate clients saw.
struct Tally {
    std::atomic<long> readings{0};     // 200 with a plate
    std::atomic<long> serviceJson{0};  // any other answer in the service's error JSON
    std::atomic<long> other{0};        // no answer, or not the service's JSON
};

// plateClients clients post the plate picture to port until the time is up.
void LoadPlates(int port, const std::string& authority, const std::string& token,
                Clock::duration length, Tally& tally) {
    const std::string path = "/rest/2.0/ocr/v1/license_plate?access_token=" + token;
    static const std::string body = PlateBody();
    const auto end = Clock::now() + length;
    std::vector<std::thread> clients;
    for (int c = 0; c < plateClients; ++c) {
        clients.emplace_back([&] {
            auto client = Client(port, authority);
            while (Clock::now() < end) {
                auto answer = client->Post(path, body, formMediaType);
                nlohmann::json json =
                    answer ? nlohmann::json::parse(answer->body, nullptr, false) : nlohmann::json();
                if (answer && answer->status == 200 && json.contains("plate")) {
                    ++tally.readings;
                } else if (json.is_object() && json.contains("error_code") &&
                           json.contains("error_msg")) {
                    ++tally.serviceJson;
                } else {
                    ++tally.other;
                    std::fprintf(stderr, "cluster: answer not the service's JSON: %s\n",
                                 answer ? answer->body.substr(0, 200).c_str()
                                        : httplib::to_string(answer.error()).c_str());
                }
            }
        });
    }
    for (auto& t : clients)
        t.join();
}

double PlateRate(const Cluster& cluster, const std::string& token) {
    Tally tally;
    auto start = Clock::now();
    LoadPlates(cluster.FrontPort(), cluster.Authority(), token, rateRound, tally);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (tally.other > 0 || tally.serviceJson > 0) {
        std::fprintf(stderr, "cluster: %ld failed readings\n",
                     long(tally.other + tally.serviceJson));
    }
    return tally.readings / seconds;
}

double P99(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[std::min(times.size() - 1, times.size() * 99 / 100)];
}

// Token requests of tokenClients clients at once, each on a connection of its own: the 99th
// percentile of the requests on established connections, and of the first requests (connection
// and TLS handshake included). A failed request counts as 1e9 ms.
struct TokenTimes {
    double p99Ms = 0;
    double firstP99Ms = 0;
};

TokenTimes TokenLatency(int port, const std::string& authority) {
    std::vector<double> times, firsts;
    std::mutex mutex;
    std::vector<std::thread> clients;
    for (int c = 0; c < tokenClients; ++c) {
        clients.emplace_back([&] {
            auto client = Client(port, authority);
            std::vector<double> mine;
            for (int i = 0; i <= tokensPerClient; ++i) {
                auto start = Clock::now();
                auto answer = client->Post(tokenPath, "", formMediaType);
                double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                mine.push_back(answer && answer->status == 200 ? ms : 1e9);
            }
            std::lock_guard<std::mutex> lock(mutex);
            firsts.push_back(mine.front());
            times.insert(times.end(), mine.begin() + 1, mine.end());
        });
    }
    for (auto& t : clients)
        t.join();
    return {P99(times), P99(firsts)};
}

}  // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);

    Cluster one, three;
    if (!one.Start(1, {"--threads", "1"}) || !three.Start(3, {"--threads", "1"})) return 1;
    std::string tokenOne = Token(one.FrontPort(), one.Authority());
    std::string tokenThree = Token(three.FrontPort(), three.Authority());
    if (tokenOne.empty() || tokenThree.empty()) {
        std::fprintf(stderr, "cluster: no token\n");
        return 1;
    }

    // Plate readings per second, the two clusters taking turns.
    Tally warm;
    LoadPlates(one.FrontPort(), one.Authority(), tokenOne, warmUp, warm);
    LoadPlates(three.FrontPort(), three.Authority(), tokenThree, warmUp, warm);
    std::vector<double> ratesOne, ratesThree, ratios;
    for (int round = 0; round < rateRounds; ++round) {
        ratesOne.push_back(PlateRate(one, tokenOne));
        ratesThree.push_back(PlateRate(three, tokenThree));
        ratios.push_back(ratesThree.back() / ratesOne.back());
        std::printf("round %d: 1 replica %.1f readings/s, 3 replicas %.1f readings/s\n", round + 1,
                    ratesOne.back(), ratesThree.back());
    }

    // Token latency with replicas of the usual threads: through the front, and on one replica
    // directly.
    Cluster tokens;
    if (!tokens.Start(3, {})) return 1;
    TokenTimes front = TokenLatency(tokens.FrontPort(), tokens.Authority());
    TokenTimes replica = TokenLatency(tokens.ReplicaPort(1), tokens.Authority());
    std::printf(
        "token p99, %d clients x %d requests on open connections: %.1f ms through the "
        "front, %.1f ms on one replica directly\n",
        tokenClients, tokensPerClient, front.p99Ms, replica.p99Ms);
    std::printf(
        "token p99 of the first requests (TCP and TLS handshake): %.1f ms through the "
        "front, %.1f ms on one replica directly\n",
        front.firstP99Ms, replica.firstP99Ms);

    // A replica killed under load and started again by the script.
    Tally killTally;
    pid_t victim = three.ReplicaPid(2);
    const int victimPort = three.ReplicaPort(2);
    std::thread load(
        [&] { LoadPlates(three.FrontPort(), three.Authority(), tokenThree, killLoad, killTally); });
    std::this_thread::sleep_for(killAfter);
    ::kill(victim, SIGKILL);
    auto killed = Clock::now();
    double backMs = -1;
    while (Clock::now() - killed < killLoad) {
        pid_t now = three.ReplicaPid(2);
        if (now > 0 && now != victim && Token(victimPort, three.Authority()).size() > 0) {
            backMs = std::chrono::duration<double, std::milli>(Clock::now() - killed).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    load.join();
    std::printf(
        "kill under load: %ld readings, %ld error JSON answers (the front's 502), %ld "
        "others; the replica answered again after %.0f ms\n",
        long(killTally.readings), long(killTally.serviceJson), long(killTally.other), backMs);

    std::printf("figure cluster_plate_rate_3_replicas_vs_1 %.2f ratio goal >=1.7\n",
                bench::Median(ratios));
    std::printf("figure cluster_token_p99_ms %.1f ms goal <=20\n", front.p99Ms);
    std::printf("figure cluster_requests_not_service_json_during_kill %ld requests goal 0\n",
                long(killTally.other));
    return 0;
}
