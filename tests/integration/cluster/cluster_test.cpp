// scripts/run-cluster as its users meet it: replicas of the real service behind a real nginx on
// loopback, driven with curl. Tokens from the front work on every replica (and on services
// sharing the key file, and during a change of key), readings spread over all replicas, a
// replica killed under load comes back with no request left unanswered, nginx's own errors are
// the service's JSON, no log holds a token or a secret, and a stop signal ends everything with
// status 0.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/options.h"
#include "tests/support/cluster_process.h"
#include "tests/support/test_proxy.h"

namespace {

using Clock = std::chrono::steady_clock;
using servicetest::ReadFile;
using servicetest::ServiceProcess;
using servicetest::TempDir;
using testsupport::Accepts;

const std::string platePath = "/rest/2.0/ocr/v1/license_plate";
const std::string jsonType = "application/json; charset=utf-8";
// A killed replica must be back this soon; the script waits 0.2 s before starting it again.
constexpr auto backWithin = std::chrono::seconds(5);
// Generous bounds for waits on a busy machine: never reached when things work.
constexpr auto longWait = std::chrono::seconds(60);
// The longest any one request may take through the front (curl's --max-time).
constexpr int requestSeconds = 120;

struct Output {
    int status = -1;   // exit status, or 128 + signal
    std::string text;  // standard output (and standard error when asked)
};

// Runs argv (found on the PATH) to its end; environment additions as NAME=VALUE.
Output RunProgram(const std::vector<std::string>& argv, bool withStandardError = false,
                  const std::vector<std::string>& environment = {}) {
    Output result;
    int out[2];
    if (pipe(out) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        int null = open("/dev/null", O_RDWR);
        dup2(withStandardError ? out[1] : null, 2);
        dup2(null, 0);
        close(out[0]);
        close(out[1]);
        close(null);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        result.text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Processes whose command line contains text (the cluster's state directory is unique).
std::vector<pid_t> ProcessesWith(const std::string& text) {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        pid_t pid = atoi(entry->d_name);
        if (pid <= 0 || pid == getpid()) continue;
        std::string line = ReadFile("/proc/" + std::string(entry->d_name) + "/cmdline");
        for (char& c : line)
            if (c == '\0') c = ' ';
        if (line.find(text) != std::string::npos) pids.push_back(pid);
    }
    if (proc) closedir(proc);
    return pids;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// A cluster of the real service behind nginx, started by the script under test.
class Cluster : public servicetest::ClusterProcess {
  public:
    Cluster() : ClusterProcess(RUN_CLUSTER_SCRIPT, RECOGNITION_SERVICE_BINARY) {}
};

std::vector<std::string> CurlPost(const std::string& authority, int port, const std::string& path) {
    return {"curl",
            "-sS",
            "--max-time",
            std::to_string(requestSeconds),
            "--cacert",
            authority,
            "-w",
            "\n%{http_code} %{content_type}",
            "-X",
            "POST",
            "https://127.0.0.1:" + std::to_string(port) + path};
}

// An answer of curl run with CurlPost: body, status and content type.
struct Answer {
    int status = 0;
    std::string contentType;
    nlohmann::json body;  // discarded when not JSON
};

Answer ParseAnswer(const std::string& text) {
    Answer answer;
    size_t line = text.rfind('\n');
    if (line == std::string::npos) return answer;
    std::istringstream tail(text.substr(line + 1));
    tail >> answer.status >> std::ws;
    std::getline(tail, answer.contentType);
    answer.body = nlohmann::json::parse(text.substr(0, line), nullptr, false);
    return answer;
}

std::string TokenFrom(const std::string& authority, int port) {
    std::vector<std::string> curl =
        CurlPost(authority, port,
                 std::string("/oauth/2.0/token?grant_type=client_credentials&client_id=") +
                     service::builtInClientId + "&client_secret=" + service::builtInClientSecret);
    Answer answer = ParseAnswer(RunProgram(curl).text);
    if (answer.status != 200 || !answer.body.contains("access_token")) return "";
    return answer.body["access_token"].get<std::string>();
}

// The sample plate picture, Base64-encoded by coreutils into dir; curl percent-encodes it.
std::string EncodedPlate(const std::string& dir) {
    std::string file = dir + "/plate.b64";
    std::ofstream(file) << RunProgram({"base64", "-w0", PLATE_PICTURE}).text;
    return file;
}

Answer ReadPlate(const std::string& authority, int port, const std::string& token,
                 const std::string& encodedPicture) {
    std::vector<std::string> curl = CurlPost(authority, port, platePath + "?access_token=" + token);
    curl.insert(curl.end(), {"--data-urlencode", "image@" + encodedPicture});
    return ParseAnswer(RunProgram(curl).text);
}

// count plate readings through the front by one curl, parallel transfers at once; the
// output lines "STATUS BYTES" per transfer, the answers in dir/answer-N.json.
Output ReadPlates(const std::string& authority, int port, const std::string& token,
                  const std::string& encodedPicture, const std::string& dir, int count,
                  int parallel) {
    std::string config = dir + "/curl.config";
    std::ofstream out(config);
    for (int i = 0; i < count; ++i) {
        if (i > 0) out << "next\n";
        out << "url = \"https://127.0.0.1:" << port << platePath << "?access_token=" << token
            << "\"\ncacert = \"" << authority << "\"\ndata-urlencode = \"image@" << encodedPicture
            << "\"\noutput = \"" << dir << "/answer-" << i
            << ".json\"\nmax-time = " << requestSeconds
            << "\nwrite-out = \"%{http_code} %{size_download}\\n\"\n";
    }
    out.close();
    return RunProgram(
        {"curl", "-sS", "--parallel", "--parallel-max", std::to_string(parallel), "-K", config});
}

// Waits until pred holds or limit passed; whether it held.
template <typename Pred>
bool WaitFor(Pred pred, Clock::duration limit) {
    auto deadline = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Neither the token nor the client secret, nor any query, in any log of the cluster.
void ExpectNoSecretsInLogs(const Cluster& cluster, int replicas, const std::string& token) {
    std::vector<std::pair<std::string, std::string>> logs{
        {"front access log", cluster.FrontAccessLog()},
        {"front error log", cluster.FrontErrorLog()}};
    for (int r = 1; r <= replicas; ++r)
        logs.push_back({"replica " + std::to_string(r), cluster.ReplicaLog(r)});
    for (const auto& [name, log] : logs) {
        for (const std::string& secret :
             {token, std::string(service::builtInClientSecret), std::string("access_token="),
              std::string("client_secret=")}) {
            EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in the " << name;
        }
    }
}

class ClusterTest : public ::testing::Test {
  protected:
    TempDir work;
};

TEST_F(ClusterTest, AnnouncesItselfLikeTheService) {
    Cluster cluster;
    ASSERT_TRUE(cluster.Start(2)) << cluster.ScriptLog();
    EXPECT_EQ(cluster.FirstLine(),
              "listening on https://127.0.0.1:" + std::to_string(cluster.FrontPort()));
    EXPECT_EQ(cluster.Authority(), cluster.State() + "/ca.pem");
    // The front's certificate is the service's own, under that authority.
    Output handshake = RunProgram(
        {"curl", "-sS", "--cacert", cluster.Authority(), "-o", "/dev/null", "-w",
         "%{ssl_verify_result}", "https://127.0.0.1:" + std::to_string(cluster.FrontPort()) + "/"});
    EXPECT_EQ(handshake.text, "0");
    for (int r = 1; r <= 2; ++r) {
        EXPECT_GT(cluster.ReplicaPort(r), 0) << cluster.ReplicaLog(r);
        EXPECT_NE(cluster.ReplicaPort(r), cluster.FrontPort());
    }
    EXPECT_NE(cluster.ReplicaPort(1), cluster.ReplicaPort(2));
}

TEST_F(ClusterTest, TokenFromTheFrontWorksOnEveryReplicaAndWhereverTheKeyIs) {
    Cluster cluster;
    ASSERT_TRUE(cluster.Start(3)) << cluster.ScriptLog();
    std::string token = TokenFrom(cluster.Authority(), cluster.FrontPort());
    ASSERT_FALSE(token.empty());
    std::string picture = EncodedPlate(work.Path());
    for (int r = 1; r <= 3; ++r) {
        Answer answer = ReadPlate(cluster.Authority(), cluster.ReplicaPort(r), token, picture);
        EXPECT_EQ(answer.status, 200) << "replica " << r << ": " << answer.body;
        EXPECT_TRUE(answer.body.contains("plate")) << "replica " << r << ": " << answer.body;
    }

    // Single services beside the cluster, each with a state directory of its own.
    const std::string clusterKey = cluster.State() + "/token.key";
    const std::string newKey = work.Path() + "/new.key";  // made by the first service naming it
    struct {
        const char* what;
        std::vector<std::string> keyOptions;
        bool accepts;
    } cases[] = {
        {"a key of its own", {}, false},
        {"the cluster's key file", {"--token-key-file", clusterKey}, true},
        {"a new key signing, the cluster's still accepted",
         {"--token-key-file", newKey, "--token-key-file", clusterKey},
         true},
        {"the cluster's key signing, a new one accepted",
         {"--token-key-file", clusterKey, "--token-key-file", newKey},
         true},
        {"the new key alone", {"--token-key-file", newKey}, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        std::string state = work.Path() + "/state-" + std::to_string(index++);
        std::vector<std::string> args{"--listen", "127.0.0.1:0", "--state-dir", state};
        args.insert(args.end(), c.keyOptions.begin(), c.keyOptions.end());
        ServiceProcess single;
        ASSERT_TRUE(single.Start(RECOGNITION_SERVICE_BINARY, args, state + ".log"))
            << c.what << ": " << ReadFile(state + ".log");
        std::vector<std::string> curl =
            CurlPost(single.Authority(), single.Port(), platePath + "?access_token=" + token);
        curl.insert(curl.end(), {"--data", "image="});
        Answer answer = ParseAnswer(RunProgram(curl).text);
        if (c.accepts) {
            EXPECT_NE(answer.status, 401) << c.what << ": " << answer.body;
        } else {
            EXPECT_EQ(answer.status, 401) << c.what;
            EXPECT_EQ(answer.body.value("error_code", 0), 110) << c.what << ": " << answer.body;
        }
    }
}

TEST_F(ClusterTest, PlateReadingsSpreadOverEveryReplica) {
    constexpr int readingCount = 300;
    Cluster cluster;
    ASSERT_TRUE(cluster.Start(3)) << cluster.ScriptLog();
    std::string token = TokenFrom(cluster.Authority(), cluster.FrontPort());
    ASSERT_FALSE(token.empty());
    std::string picture = EncodedPlate(work.Path());

    Output curl = ReadPlates(cluster.Authority(), cluster.FrontPort(), token, picture, work.Path(),
                             readingCount, 6);
    EXPECT_EQ(curl.status, 0) << curl.text;
    EXPECT_EQ(Count(curl.text, "\n"), size_t(readingCount));
    EXPECT_EQ(Count(curl.text, "200 "), size_t(readingCount)) << curl.text;
    std::string first = ReadFile(work.Path() + "/answer-0.json");
    nlohmann::json expected = nlohmann::json::parse(first, nullptr, false);
    ASSERT_TRUE(expected.contains("plate")) << first;
    for (int i = 0; i < readingCount; ++i) {
        nlohmann::json answer = nlohmann::json::parse(
            ReadFile(work.Path() + "/answer-" + std::to_string(i) + ".json"), nullptr, false);
        EXPECT_EQ(answer.value("plate", nlohmann::json()), expected["plate"]) << "reading " << i;
    }

    // Each replica's log names it in every line; together they hold every reading, and each
    // took a fair part (least connections: roughly a third each).
    size_t total = 0;
    for (int r = 1; r <= 3; ++r) {
        std::string line = "POST " + platePath + " 200 ";
        std::string log = cluster.ReplicaLog(r);
        size_t readings = Count(log, line);
        std::string self = " 127.0.0.1:" + std::to_string(cluster.ReplicaPort(r)) + "\n";
        EXPECT_EQ(Count(log, self), Count(log, "Z POST "))
            << "replica " << r << ": request lines without its address:\n"
            << log;
        EXPECT_GE(readings, size_t(readingCount / 6)) << "replica " << r;
        total += readings;
    }
    EXPECT_EQ(total, size_t(readingCount));
    EXPECT_EQ(Count(cluster.FrontAccessLog(), "POST " + platePath + " 200 "), size_t(readingCount));
    ExpectNoSecretsInLogs(cluster, 3, token);
}

TEST_F(ClusterTest, ReplicaKilledUnderLoadIsBackAndNoRequestGoesUnanswered) {
    constexpr int readingCount = 120;
    constexpr int parallelRequests = 4;
    Cluster cluster;
    ASSERT_TRUE(cluster.Start(3)) << cluster.ScriptLog();
    std::string token = TokenFrom(cluster.Authority(), cluster.FrontPort());
    ASSERT_FALSE(token.empty());
    std::string picture = EncodedPlate(work.Path());
    const int victimPort = cluster.ReplicaPort(2);
    const pid_t victim = cluster.ReplicaPid(2);
    ASSERT_GT(victim, 0);

    Output curl;
    std::thread load([&] {
        curl = ReadPlates(cluster.Authority(), cluster.FrontPort(), token, picture, work.Path(),
                          readingCount, parallelRequests);
    });
    // In the middle of the load: a third of the readings done.
    auto readingsDone = [&] {
        size_t done = 0;
        for (int r = 1; r <= 3; ++r)
            done += Count(cluster.ReplicaLog(r), "POST " + platePath + " ");
        return done;
    };
    bool loaded = WaitFor([&] { return readingsDone() >= readingCount / 3; }, longWait);
    kill(victim, SIGKILL);
    auto killed = Clock::now();
    bool back = WaitFor(
        [&] {
            pid_t now = cluster.ReplicaPid(2);
            return now > 0 && now != victim && Accepts(victimPort);
        },
        longWait);
    auto backAfter = Clock::now() - killed;
    load.join();
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(back) << cluster.ScriptLog();
    EXPECT_LT(backAfter, backWithin)
        << std::chrono::duration_cast<std::chrono::milliseconds>(backAfter).count() << " ms";
    EXPECT_NE(
        cluster.ScriptLog().find("replica 2 (127.0.0.1:" + std::to_string(victimPort) + ") ended"),
        std::string::npos)
        << cluster.ScriptLog();

    // Every request got an answer: a reading, or for those in flight on the killed replica
    // the front's 502 in the service's JSON.
    EXPECT_EQ(curl.status, 0) << curl.text;
    EXPECT_EQ(Count(curl.text, "\n"), size_t(readingCount)) << curl.text;
    int failed = 0;
    for (int i = 0; i < readingCount; ++i) {
        std::string text = ReadFile(work.Path() + "/answer-" + std::to_string(i) + ".json");
        nlohmann::json answer = nlohmann::json::parse(text, nullptr, false);
        if (answer.contains("plate")) continue;
        ++failed;
        EXPECT_EQ(answer.value("error_code", 0), 9) << "reading " << i << ": " << text;
    }
    EXPECT_EQ(Count(curl.text, "502 "), size_t(failed)) << curl.text;
    EXPECT_LE(failed, parallelRequests) << "more than the requests in flight failed";

    // The restarted replica takes the token made before, and the front sends to it again.
    Answer direct = ReadPlate(cluster.Authority(), victimPort, token, picture);
    EXPECT_EQ(direct.status, 200) << direct.body;
    size_t before = Count(cluster.ReplicaLog(2), "POST " + platePath + " 200 ");
    bool rejoined = WaitFor(
        [&] {
            Answer a = ReadPlate(cluster.Authority(), cluster.FrontPort(), token, picture);
            EXPECT_EQ(a.status, 200) << a.body;
            return Count(cluster.ReplicaLog(2), "POST " + platePath + " 200 ") > before;
        },
        longWait);
    EXPECT_TRUE(rejoined);
    ExpectNoSecretsInLogs(cluster, 3, token);
}

TEST_F(ClusterTest, FrontErrorsAreTheServiceJson) {
    Cluster cluster;
    ASSERT_TRUE(cluster.Start(1)) << cluster.ScriptLog();
    const std::string front = "127.0.0.1:" + std::to_string(cluster.FrontPort());
    std::string big = work.Path() + "/big.bin";
    { std::ofstream create(big); }
    std::filesystem::resize_file(big, 32 * 1024 * 1024 + 1);

    struct {
        const char* what;
        std::vector<std::string> curl;
        int status;
        int errorCode;
    } cases[] = {
        {"a body over 32 MiB",
         {"curl", "-sS", "--cacert", cluster.Authority(), "--data-binary", "@" + big,
          "https://" + front + platePath},
         413,
         204},
        {"a request line nginx cannot parse",
         {"curl", "-sS", "--cacert", cluster.Authority(), "-X", "NOT A METHOD",
          "https://" + front + platePath},
         400,
         2},
        {"plain HTTP to the TLS port", {"curl", "-sS", "http://" + front + platePath}, 400, 2},
        {"a request line over 8 KiB",
         {"curl", "-sS", "--cacert", cluster.Authority(), "-X", "POST",
          "https://" + front + platePath + "?access_token=" + std::string(9000, 'a')},
         414,
         7},
    };
    for (const auto& c : cases) {
        std::vector<std::string> curl = c.curl;
        curl.insert(curl.end(), {"-w", "\n%{http_code} %{content_type}"});
        Answer answer = ParseAnswer(RunProgram(curl).text);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.contentType, jsonType) << c.what;
        EXPECT_EQ(answer.body.value("error_code", 0), c.errorCode) << c.what << ": " << answer.body;
        EXPECT_TRUE(answer.body.contains("error_msg")) << c.what;
    }

    // More requests in progress from one address than the front takes (64, the service's own
    // limit): slow uploads hold their places, the rest get 503 at once.
    constexpr int slowUploads = 70;
    std::string config = work.Path() + "/slow.config";
    {
        std::ofstream out(config);
        for (int i = 0; i < slowUploads; ++i) {
            out << (i ? "next\n" : "") << "url = \"https://" << front << platePath
                << "?access_token=x\"\ncacert = \"" << cluster.Authority()
                << "\"\ndata = \"image=" << std::string(2000, 'A')
                << "\"\nlimit-rate = 1000\noutput = \"" << work.Path() << "/slow-" << i
                << ".json\"\nwrite-out = \"%{http_code}\\n\"\n";
        }
    }
    Output slow = RunProgram(
        {"curl", "-sS", "--parallel", "--parallel-max", std::to_string(slowUploads), "-K", config});
    EXPECT_EQ(Count(slow.text, "401\n"), 64u) << slow.text;
    EXPECT_EQ(Count(slow.text, "503\n"), size_t(slowUploads - 64)) << slow.text;
    for (int i = 0; i < slowUploads; ++i) {
        std::string text = ReadFile(work.Path() + "/slow-" + std::to_string(i) + ".json");
        int code = nlohmann::json::parse(text, nullptr, false).value("error_code", 0);
        EXPECT_TRUE(code == 110 || code == 10) << text;
    }

    // A request in flight on a replica that dies: the replica is stopped, the request sent,
    // then the replica killed. nginx does not send a POST twice: 502, as JSON.
    const pid_t replica = cluster.ReplicaPid(1);
    ASSERT_GT(replica, 0);
    kill(replica, SIGSTOP);
    Answer answer;
    std::thread request([&] {
        std::vector<std::string> curl =
            CurlPost(cluster.Authority(), cluster.FrontPort(), platePath + "?access_token=x");
        curl.insert(curl.end(), {"--data", "image=x"});
        answer = ParseAnswer(RunProgram(curl).text);
    });
    // Nothing shows a request waiting on a stopped replica; a second is ample for curl and
    // nginx on loopback (and a request that came later would find no replica: 502 as well).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(replica, SIGKILL);
    request.join();
    EXPECT_EQ(answer.status, 502);
    EXPECT_EQ(answer.contentType, jsonType);
    EXPECT_EQ(answer.body,
              nlohmann::json::parse(R"({"error_code":9,"error_msg":"no replica answered"})"));
}

TEST_F(ClusterTest, StopSignalEndsEverythingWithStatusZero) {
    for (int signal : {SIGTERM, SIGINT}) {
        Cluster cluster;
        ASSERT_TRUE(cluster.Start(2)) << cluster.ScriptLog();
        ASSERT_FALSE(TokenFrom(cluster.Authority(), cluster.FrontPort()).empty());
        EXPECT_EQ(cluster.Stop(signal), 0) << strsignal(signal) << "\n" << cluster.ScriptLog();
        EXPECT_TRUE(ProcessesWith(cluster.State()).empty()) << strsignal(signal);
        EXPECT_FALSE(Accepts(cluster.FrontPort())) << strsignal(signal);
        for (int r = 1; r <= 2; ++r) {
            std::string log = cluster.ReplicaLog(r);
            EXPECT_NE(log.find("Z stopped\n"), std::string::npos)
                << strsignal(signal) << ", replica " << r << ":\n"
                << log;
        }
    }
}

TEST_F(ClusterTest, CommandLineFaultsEndWithAStatusAndLeaveNothingRunning) {
    // A port already taken by someone else.
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    socklen_t length = sizeof address;
    getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string takenPort = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const std::string state = work.Path() + "/state";
    const std::string service = std::string("RECOGNITION_SERVICE=") + RECOGNITION_SERVICE_BINARY;

    struct {
        const char* what;
        std::vector<std::string> args;
        std::string environment;
        int status;
        const char* message;
    } cases[] = {
        {"--help", {"--help"}, service, 0, "Runs N recognition-service replicas"},
        {"no --replicas", {}, service, 2, "--replicas wants a number"},
        {"no replica", {"--replicas", "0"}, service, 2, "--replicas wants a number"},
        {"a replica count that is no number", {"--replicas", "3x"}, service, 2, "--replicas"},
        {"a listen address without port",
         {"--replicas", "1", "--listen", "127.0.0.1"},
         service,
         2,
         "--listen wants HOST:PORT"},
        {"an unknown option", {"--replicas", "1", "--bogus"}, service, 2, "unknown option --bogus"},
        {"no service program",
         {"--replicas", "1"},
         "RECOGNITION_SERVICE=/nonexistent",
         1,
         "no recognition-service program"},
        {"a service option the service refuses",
         {"--replicas", "2", "--", "--threads", "0"},
         service,
         1,
         "replica 1 did not start"},
        {"the front's port taken",
         {"--replicas", "2", "--listen", takenPort},
         service,
         1,
         "nginx did not start"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{RUN_CLUSTER_SCRIPT, "--state-dir", state};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Output result = RunProgram(argv, true, {c.environment});
        EXPECT_EQ(result.status, c.status) << c.what << ":\n" << result.text;
        EXPECT_NE(result.text.find(c.message), std::string::npos) << c.what << ":\n" << result.text;
        EXPECT_TRUE(WaitFor([&] { return ProcessesWith(state).empty(); }, std::chrono::seconds(20)))
            << c.what << ": something of the cluster still runs";
    }
    close(taken);
}

}  // namespace
