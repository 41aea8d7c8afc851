// The local recognition service under load and abuse: 50 clients at once for a bounded time,
// each sending a mix of good requests and bad ones (oversized bodies, bodies cut short, garbage
// Base64, pictures that claim huge sizes or decompress to huge ones, unknown tokens, a flood of
// token requests). The service must answer every request it could read with its JSON (the
// error JSON for a bad one), keep serving to the end, and keep its memory bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "service/options.h"
#include "tests/support/service_process.h"

namespace {

constexpr int kClients = 50;
// Seconds of load; RECOGNIZER_LOAD_SECONDS overrides it (make test keeps it short).
constexpr int kDefaultLoadSeconds = 30;
// Generous: a loaded CI machine may take long for one answer, never this long.
constexpr int kSocketTimeoutSeconds = 120;
// What the service may hold at its peak: a few pictures decoded at once, at most 8192 pixels
// a side, plus its libraries.
constexpr long kMaxPeakKiB = 3L * 1024 * 1024;

int LoadSeconds() {
    const char* given = std::getenv("RECOGNIZER_LOAD_SECONDS");
    const int seconds = given ? std::atoi(given) : kDefaultLoadSeconds;
    return seconds > 0 ? seconds : kDefaultLoadSeconds;
}

// ---- Pictures, made here with zlib

void PutBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    PutBe32(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

// A grey PNG of the given size. Its rows are all zero, so a large one is tiny on the wire and
// huge once decoded; declaredWidth/Height, when given, are what the header claims instead.
std::string GreyPng(uint32_t width, uint32_t height, uint32_t declaredWidth = 0,
                    uint32_t declaredHeight = 0) {
    std::string ihdr;
    PutBe32(ihdr, declaredWidth ? declaredWidth : width);
    PutBe32(ihdr, declaredHeight ? declaredHeight : height);
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
    z_stream z{};
    deflateInit(&z, 9);
    std::string compressed;
    const std::string row(width + 1, '\0');  // filter byte and pixels
    char out[65536];
    for (uint32_t y = 0; y < height; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = static_cast<uInt>(row.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            deflate(&z, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out, sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", compressed);
    PutChunk(png, "IEND", "");
    return png;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string FormValue(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// ---- A raw HTTPS client: one request a connection, so that it can misbehave at will

struct Reply {
    int status = 0;  // 0: no answer
    std::string body;
};

class Tls {
  public:
    Tls() : context(SSL_CTX_new(TLS_client_method())) {}
    ~Tls() { SSL_CTX_free(context); }
    SSL_CTX* Get() const { return context; }

  private:
    SSL_CTX* context;  // no certificate check: the test talks to its own service on loopback
};

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{kSocketTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

Reply ParseReply(const std::string& raw) {
    Reply reply;
    if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || raw.size() < 12) return reply;
    reply.status = std::atoi(raw.c_str() + 9);
    const size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd != std::string::npos) reply.body = raw.substr(headEnd + 4);
    return reply;
}

// Sends request (only its first `send` bytes, then closes the sending side, when send is
// given) and reads the answer until the service closes the connection.
Reply Exchange(const Tls& tls, int port, const std::string& request,
               size_t send = std::string::npos) {
    const int fd = Connect(port);
    if (fd < 0) return {};
    SSL* ssl = SSL_new(tls.Get());
    SSL_set_fd(ssl, fd);
    std::string raw;
    if (SSL_connect(ssl) == 1) {
        const std::string out = request.substr(0, send);
        size_t at = 0;
        while (at < out.size()) {
            const int n = SSL_write(ssl, out.data() + at, static_cast<int>(out.size() - at));
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        // A body cut short: the client says it has sent all it will (TLS close_notify), and
        // waits for the answer.
        if (send != std::string::npos) SSL_shutdown(ssl);
        char buffer[16384];
        for (;;) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0) break;
            raw.append(buffer, static_cast<size_t>(n));
        }
    }
    SSL_free(ssl);
    close(fd);
    ERR_clear_error();
    return ParseReply(raw);
}

std::string Post(const std::string& target, const std::string& body,
                 const std::string& extraHeaders = "") {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

const std::string tokenTarget = std::string("/oauth/2.0/token?grant_type=client_credentials") +
                                "&client_id=" + service::kBuiltInClientId +
                                "&client_secret=" + service::kBuiltInClientSecret;

std::string Token(const Reply& reply) {
    const auto json = nlohmann::json::parse(reply.body, nullptr, false);
    if (json.is_discarded() || !json.contains("access_token")) return "";
    return json["access_token"].get<std::string>();
}

// The service's JSON error code in a reply, -1 when it is not an error JSON.
int ErrorCode(const Reply& reply) {
    const auto json = nlohmann::json::parse(reply.body, nullptr, false);
    if (json.is_discarded() || !json.contains("error_code")) return -1;
    return json["error_code"].get<int>();
}

// ---- The service's memory, from /proc

// The pid of our child running the service (the test starts only this one).
pid_t ServicePid() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line;
        bool child = false, service = false;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0)
                service = line.find("recognition") != std::string::npos;
            if (line.rfind("PPid:", 0) == 0) child = std::atoi(line.c_str() + 5) == getpid();
        }
        if (child && service) return std::atoi(entry.path().filename().c_str());
    }
    return -1;
}

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
        pid = ServicePid();
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
    const std::string token = Token(Exchange(tls, port, Post(tokenTarget, "")));
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
        {"token", Post(tokenTarget, ""), std::string::npos, {200}, 0},
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
    for (int c = 0; c < kClients; ++c) {
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
                LoadSeconds(), kClients);
    std::printf("figure load_peak_rss %ld KiB (VmHWM %ld KiB)\n", peakRss, hwm);
    for (const std::string& w : tally.wrong)
        ADD_FAILURE() << w;
    for (const Kind& kind : kinds)
        EXPECT_GT(tally.served[kind.name], 0) << kind.name << " never answered as it should be";
    EXPECT_LT(hwm, kMaxPeakKiB);

    // Still serving after the storm, with the same token.
    EXPECT_FALSE(Token(Exchange(tls, port, Post(tokenTarget, ""))).empty());
    EXPECT_EQ(Exchange(tls, port, Post(plate, small)).status, 200);
    EXPECT_EQ(process.Stop(), 0) << "the service did not end cleanly";
}

// Clients that announce a body and then send nothing more (slow or stalled uploads) must not
// keep the others waiting: as many of them as the service has connection threads, and a token
// request still gets its answer long before the service's 60-second read timeout ends theirs.
TEST_F(ServiceLoad, StalledUploadsDoNotBlockOtherClients) {
    constexpr int kStalled = 20;        // more than the service's connection threads
    constexpr int kPromptSeconds = 20;  // far below the read timeout, far above a token's cost
    const int port = process.Port();
    const std::string stalled = "POST " + tokenTarget +
                                " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: "
                                "40000000\r\n\r\nimage=";
    std::vector<std::thread> slow;
    for (int c = 0; c < kStalled; ++c)
        slow.emplace_back([&] { Exchange(tls, port, stalled); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto start = std::chrono::steady_clock::now();
    const std::string token = Token(Exchange(tls, port, Post(tokenTarget, "")));
    const auto waited =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_FALSE(token.empty());
    EXPECT_LT(waited.count(), kPromptSeconds)
        << "a token request waited behind " << kStalled << " stalled uploads";
    process.Stop();  // ends the stalled connections
    for (std::thread& t : slow)
        t.join();
}

TEST_F(ServiceLoad, TokenFloodKeepsMemoryBounded) {
    const int port = process.Port();
    const long before = StatusKiB(pid, "VmRSS:");
    constexpr int kFlood = 3000;
    std::atomic<int> issued{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < kFlood / 10; ++i) {
                if (!Token(Exchange(tls, port, Post(tokenTarget, ""))).empty()) ++issued;
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    const long after = StatusKiB(pid, "VmRSS:");
    std::printf("figure token_flood %d tokens, VmRSS %ld -> %ld KiB\n", issued.load(), before,
                after);
    EXPECT_EQ(issued.load(), kFlood);
    EXPECT_LT(after - before, 64L * 1024) << "tokens are small; the store must not balloon";
}

}  // namespace
