// Benchmark: 2,000 sequential small POSTs on one keep-alive connection through WinHTTP
// (a request handle per POST on one session and connection, as the HTTP session uses it), next
// to a plain libcurl easy-handle loop against the same server in the same run. The server is the
// project's test server on loopback; it counts the connections each client opened.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "platform/winapi.h"
#include "tests/support/test_server.h"

namespace {

constexpr int requestCount = 2000;  // POSTs per run
constexpr int roundCount = 11;      // alternating rounds; the median of the paired ratios counts
constexpr double rateGoal = 0.8;    // at least 0.8 times libcurl's rate
constexpr int connectionsGoal = 1;  // all POSTs on one connection
const std::string body = "image=abc&kind=plate";

using Clock = std::chrono::steady_clock;

struct Run {
    double rate = 0;  // requests per second, 0 on failure
    int connections = 0;
};

bool LayerPost(HINTERNET connection) {
    HINTERNET request =
        WinHttpOpenRequest(connection, u"POST", u"/post?n=1", nullptr, nullptr, nullptr, 0);
    if (!request) return false;
    static const std::u16string contentType = u"Content-Type:application/x-www-form-urlencoded";
    WinHttpAddRequestHeaders(request, contentType.c_str(), DWORD(contentType.size()),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    bool ok = WinHttpSendRequest(request, nullptr, 0, const_cast<char*>(body.data()),
                                 DWORD(body.size()), DWORD(body.size()), 0) &&
              WinHttpReceiveResponse(request, nullptr);
    char buffer[256];
    DWORD read = 0;
    std::string answer;
    while (ok && WinHttpReadData(request, buffer, sizeof buffer, &read) && read > 0) {
        answer.append(buffer, read);
    }
    WinHttpCloseHandle(request);
    return ok && answer == "ok";
}

Run LayerRun() {
    testsupport::TestServer server;
    HINTERNET session =
        WinHttpOpen(u"http_requests bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", INTERNET_PORT(server.Port()), 0);
    Run run;
    auto start = Clock::now();
    int done = 0;
    while (done < requestCount && LayerPost(connection))
        ++done;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    if (done == requestCount) run.rate = requestCount / seconds;
    run.connections = server.ConnectionCount();
    return run;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

Run CurlRun() {
    testsupport::TestServer server;
    std::string url = server.Url("/post?n=1");
    CURL* easy = curl_easy_init();
    curl_slist* headers =
        curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    std::string answer;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "http_requests bench");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
    Run run;
    auto start = Clock::now();
    int done = 0;
    for (; done < requestCount; ++done) {
        answer.clear();
        if (curl_easy_perform(easy) != CURLE_OK || answer != "ok") break;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    if (done == requestCount) run.rate = requestCount / seconds;
    run.connections = server.ConnectionCount();
    return run;
}

}  // namespace

int main() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<double> layerRates, curlRates, ratios;
    int layerConnections = 0;
    for (int round = 0; round < roundCount; ++round) {
        Run curl = CurlRun();
        Run layer = LayerRun();
        if (curl.rate == 0 || layer.rate == 0) {
            std::fprintf(stderr, "http_requests: a run failed\n");
            return 1;
        }
        std::printf(
            "round %d: libcurl %.0f/s (%d connection), WinHTTP layer %.0f/s (%d connection)\n",
            round + 1, curl.rate, curl.connections, layer.rate, layer.connections);
        layerRates.push_back(layer.rate);
        curlRates.push_back(curl.rate);
        ratios.push_back(layer.rate / curl.rate);
        layerConnections = std::max(layerConnections, layer.connections);
    }
    std::printf("libcurl easy loop: median %.0f POST/s\nWinHTTP layer:     median %.0f POST/s\n",
                bench::Median(curlRates), bench::Median(layerRates));
    std::printf("figure http_requests_rate_vs_libcurl %.2f ratio goal >=%.1f\n",
                bench::Median(ratios), rateGoal);
    std::printf("figure http_requests_server_connections %d connections goal %d\n",
                layerConnections, connectionsGoal);
    curl_global_cleanup();
    return 0;
}
