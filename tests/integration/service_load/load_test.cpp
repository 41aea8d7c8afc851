// The local recognition service under load and abuse: 50 clients at once for a bounded time,
// each sending a mix of good requests and bad ones (oversized bodies, bodies cut short, garbage
// Base64, pictures that claim huge sizes or decompress to huge ones, unknown tokens, a flood of
// token requests). The service must answer every request it could read with its JSON (the
// error JSON for a bad one), keep serving to the end, and keep its memory bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/service_load/client.h"
#include "tests/support/service_process.h"

namespace {

using namespace loadtest;

constexpr int clientCount = 50;
// Seconds of load; RECOGNIZER_LOAD_SECONDS overrides it (make test keeps it short).
constexpr int defaultLoadSeconds = 30;
// What the service may hold at its peak: a few pictures decoded at once, at most 8192 pixels
// a side, plus its libraries.
constexpr long maxPeakKiB = 3L * 1024 * 1024;

int LoadSeconds() {
    const char* given = std::getenv("RECOGNIZER_LOAD_SECONDS");
    const int seconds = given ? std::atoi(given) : defaultLoadSeconds;
    return seconds > 0 ? seconds : defaultLoadSeconds;
}

// ---- The service's memory, from /proc

long StatusKiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// ---- The request mix

struct Kind {
    const char* name;
    std::string request;
    size_t send;                // npos: the whole request
    std::vector<int> statuses;  // one of these
    int errorCode;              // the error JSON's code; 0: not an error, -1: any JSON
    bool readsPicture = false;  // may be refused as busy (503, code 8) under load
};

struct Tally {
    std::mutex mutex;
    std::map<std::string, int> served;
    std::map<std::string, int> busy;
    std::vector<std::string> wrong;
    void Add(const Kind& kind, const Reply& reply) {
        std::lock_guard lock(mutex);
        if (kind.readsPicture && reply.status == 503 && ErrorCode(reply) == 8) {
            ++busy[kind.name];
            return;
        }
        bool ok = std::find(kind.statuses.begin(), kind.statuses.end(), reply.status) !=
                  kind.statuses.end();
        const int code = ErrorCode(reply);
        if (kind.errorCode > 0) ok = ok && code == kind.errorCode;
        if (kind.errorCode == 0) ok = ok && !Token(reply).empty();
        if (kind.errorCode == -1) ok = ok && nlohmann::json::accept(reply.body);
        if (ok) {
            ++served[kind.name];
        } else if (wrong.size() < 20) {
            wrong.push_back(std::string(kind.name) + ": status " + std::to_string(reply.status) +
                            " body " + reply.body.substr(0, 200));
        }
    }
};

class ServiceLoad : public ::testing::Test {
  protected:
    // The service closes connections whose uploads stall or overflow while the client may still
    // be writing: that write must fail with EPIPE, not end the test process.
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    void SetUp() override {
        const std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir",
                                               dir.Path()};
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
        pid = process.Pid();
        ASSERT_GT(pid, 0);
    }
    void TearDown() override { process.Stop(); }

    servicetest::TempDir dir;
    servicetest::ServiceProcess process;
    pid_t pid = -1;
    Tls tls;
};

TEST_F(ServiceLoad, KeepsServingFiftyClientsWithAbuseAndBoundedMemory) {
    const int port = process.Port();
    const std::string token = Token(Exchange(tls, port, Post(TokenTarget(), "")));
    ASSERT_FALSE(token.empty());
    const std::string plate = "/rest/2.0/ocr/v1/license_plate?access_token=" + token;
    const std::string plant = "/rest/2.0/image-classify/v1/plant?access_token=" + token;
    const std::string small = "image=" + FormValue(Base64(GreyPng(64, 32)));
    const std::string bomb = "image=" + FormValue(Base64(GreyPng(8192, 8192)));
    const std::string claimsHuge =
        "image=" + FormValue(Base64(GreyPng(32, 32, 1u << 30, 1u << 30)));
    const std::string cutShort = Post(plate, std::string(100000, 'A'));
    const std::string oversized = "POST " + plate +
                                  " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                                  "application/x-www-form-urlencoded\r\nContent-Length: "
                                  "40000000\r\n\r\nimage=";

    const std::vector<Kind> kinds = {
        {"token", Post(TokenTarget(), ""), std::string::npos, {200}, 0},
        {"plate reading", Post(plate, small), std::string::npos, {200}, -1, true},
        {"plant reading", Post(plant, small), std::string::npos, {200, 501}, -1, true},
        {"garbage Base64",
         Post(plate, "image=%21%21%21not*base64"),
         std::string::npos,
         {400},
         203,
         true},
        {"unknown token",
         Post("/rest/2.0/ocr/v1/license_plate?access_token=nope", small),
         std::string::npos,
         {401},
         110},
        {"picture claiming 2^30 pixels a side",
         Post(plant, claimsHuge),
         std::string::npos,
         {400},
         207,
         true},
        // The client announces 40 MB, sends the head and gives up (close_notify).
        {"oversized body", oversized, oversized.size(), {413}, 204},
        {"body cut short", cutShort, cutShort.size() / 2, {400}, 2},
    };
    // A decompression bomb now and then: 8192 x 8192 pixels from about 70 KB.
    const Kind bombKind{
        "decompression bomb", Post(plant, bomb), std::string::npos, {200, 400, 501}, -1, true};

    Tally tally;
    std::atomic<bool> stop{false};
    std::atomic<int> bombs{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < clientCount; ++c) {
        clients.emplace_back([&, c] {
            for (size_t i = static_cast<size_t>(c); !stop; ++i) {
                if (c < 2 && bombs < 6) {
                    ++bombs;
                    tally.Add(bombKind, Exchange(tls, port, bombKind.request));
                    continue;
                }
                const Kind& kind = kinds[i % kinds.size()];
                tally.Add(kind, Exchange(tls, port, kind.request, kind.send));
            }
        });
    }
    long peakRss = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(LoadSeconds());
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        peakRss = std::max(peakRss, StatusKiB(pid, "VmRSS:"));
    }
    stop = true;
    for (std::thread& client : clients)
        client.join();

    int total = 0;
    for (const auto& [name, count] : tally.served) {
        std::printf("served %-40s %d\n", name.c_str(), count);
        total += count;
    }
    for (const auto& [name, count] : tally.busy)
        std::printf("busy   %-40s %d (503, retry later)\n", name.c_str(), count);
    const long hwm = StatusKiB(pid, "VmHWM:");
    std::printf("figure load_requests_served %d requests in %d s by %d clients\n", total,
                LoadSeconds(), clientCount);
    std::printf("figure load_peak_rss %ld KiB (VmHWM %ld KiB)\n", peakRss, hwm);
    for (const std::string& w : tally.wrong)
        ADD_FAILURE() << w;
    for (const Kind& kind : kinds)
        EXPECT_GT(tally.served[kind.name], 0) << kind.name << " never answered as it should be";
    EXPECT_LT(hwm, maxPeakKiB);

    // Still serving after the storm, with the same token.
    EXPECT_FALSE(Token(Exchange(tls, port, Post(TokenTarget(), ""))).empty());
    EXPECT_EQ(Exchange(tls, port, Post(plate, small)).status, 200);
    EXPECT_EQ(process.Stop(), 0) << "the service did not end cleanly";
}

// Clients that announce a body and then send nothing more (stalled uploads) must not keep
// the others waiting, and the service must end them itself: the body has to come at 16 KiB/s
// after a grace of 10 s, so a stalled one is closed after about 10 s, long before the
// clients' own time-out.
TEST_F(ServiceLoad, StalledUploadsDoNotBlockOtherClientsAndAreCut) {
    constexpr int stalledUploads = 20;
    constexpr int promptSeconds = 5;   // a token costs milliseconds
    constexpr int cutBySeconds = 25;   // the deadline is 10 s; a per-read time-out never cuts
    constexpr int clientTimeout = 60;  // what the stalled clients wait at most
    const int port = process.Port();
    const std::string stalled = "POST " + TokenTarget() +
                                " HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: "
                                "1000000\r\n\r\nimage=";
    std::vector<std::thread> slow;
    std::atomic<int> cut{0};
    const auto start = std::chrono::steady_clock::now();
    for (int c = 0; c < stalledUploads; ++c) {
        slow.emplace_back([&] {
            TlsConnection connection(tls, port, "127.0.0.1", clientTimeout);
            if (!connection.Send(stalled)) return;
            connection.ReadToEnd();  // ends when the service closes, or at the time-out
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(cutBySeconds))
                ++cut;
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto asked = std::chrono::steady_clock::now();
    const std::string token = Token(Exchange(tls, port, Post(TokenTarget(), "")));
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_FALSE(token.empty());
    EXPECT_LT(waited, std::chrono::seconds(promptSeconds))
        << "a token request waited behind " << stalledUploads << " stalled uploads";
    for (std::thread& t : slow)
        t.join();
    EXPECT_EQ(cut.load(), stalledUploads) << "stalled uploads were not cut by the service";
}

// Tokens validate themselves: no number of token requests pushes a valid one out, and the
// service keeps nothing per token.
TEST_F(ServiceLoad, TokenFloodKeepsMemoryBoundedAndOldTokensValid) {
    const int port = process.Port();
    const std::string first = Token(Exchange(tls, port, Post(TokenTarget(), "")));
    ASSERT_FALSE(first.empty());
    const long before = StatusKiB(pid, "VmRSS:");
    constexpr int floodRequests = 3000;
    std::atomic<int> issued{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < floodRequests / 10; ++i) {
                if (!Token(Exchange(tls, port, Post(TokenTarget(), ""))).empty()) ++issued;
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    const long after = StatusKiB(pid, "VmRSS:");
    std::printf("figure token_flood %d tokens, VmRSS %ld -> %ld KiB\n", issued.load(), before,
                after);
    EXPECT_EQ(issued.load(), floodRequests);
    EXPECT_LT(after - before, 64L * 1024) << "the service must keep nothing per token";
    const Reply reading = Exchange(tls, port,
                                   Post("/rest/2.0/ocr/v1/license_plate?access_token=" + first,
                                        "image=" + FormValue(Base64(GreyPng(64, 32)))));
    EXPECT_EQ(reading.status, 200) << "the first token was pushed out: " << reading.body;
}

}  // namespace
