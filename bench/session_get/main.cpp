// session_get: GET of a large file from nginx on loopback with HttpSession (Open, Send,
// GetResponseBody), next to `curl -s -o /dev/null` in the same run: once with a Content-Length
// and once chunked (length unknown), and the chunked case also at smaller sizes to show how the
// time grows with the body. Each GET runs in a child process of its own, so that its wall time
// and its peak memory (ru_maxrss) are its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"

#include "http/session.h"

namespace {

constexpr long long MiB = 1048576;
constexpr int runsPerCase = 3;  // the median of three evens out a loaded machine
constexpr long long bigBody = 256 * MiB;
constexpr long long scalingBodies[] = {16 * MiB, 64 * MiB, 256 * MiB};

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time
    double peakBytes = 0;
    bool ok = false;
};

struct Case {
    double session = 0, curl = 0, sessionPeak = 0, curlPeak = 0, sessionCpu = 0, curlCpu = 0;
    bool ok = true;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double Now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Waits for the child and gives its wall time since `start` and its peak resident memory.
Run Reap(pid_t child, double start) {
    int status = 0;
    rusage usage{};
    Run run;
    if (wait4(child, &status, 0, &usage) != child) return run;
    run.seconds = Now() - start;
    run.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024;
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

Run SessionGet(const std::string& url, long long expected) {
    const double start = Now();
    const pid_t child = fork();
    if (child == 0) {
        HttpSession session;
        if (!session.Open("GET", url.c_str()) || !session.Send()) _exit(1);
        const Bytes body = session.GetResponseBody();
        _exit(body.size() == expected ? 0 : 1);
    }
    return Reap(child, start);
}

Run CurlGet(const std::string& url) {
    const double start = Now();
    const pid_t child = fork();
    if (child == 0) {
        execlp("curl", "curl", "-s", "-o", "/dev/null", url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return Reap(child, start);
}

// Alternates the two clients so that both see the same machine load.
Case Measure(const std::string& url, long long size) {
    std::vector<double> session, curl, sessionPeak, curlPeak, sessionCpu, curlCpu;
    Case result;
    for (int i = 0; i < runsPerCase; ++i) {
        const Run c = CurlGet(url);
        const Run s = SessionGet(url, size);
        result.ok = result.ok && c.ok && s.ok;
        curl.push_back(c.seconds);
        session.push_back(s.seconds);
        curlPeak.push_back(c.peakBytes);
        sessionPeak.push_back(s.peakBytes);
        curlCpu.push_back(c.cpuSeconds);
        sessionCpu.push_back(s.cpuSeconds);
    }
    result.sessionCpu = bench::Median(sessionCpu);
    result.curlCpu = bench::Median(curlCpu);
    result.session = bench::Median(session);
    result.curl = bench::Median(curl);
    result.sessionPeak = bench::Median(sessionPeak);
    result.curlPeak = bench::Median(curlPeak);
    return result;
}

bool WriteBody(const std::filesystem::path& file, long long size) {
    std::vector<char> block(MiB);
    unsigned state = 12345;
    for (char& c : block) {
        state = state * 1103515245 + 12345;
        c = static_cast<char>(state >> 16);
    }
    std::ofstream out(file, std::ios::binary);
    for (long long written = 0; written < size; written += MiB)
        out.write(block.data(), MiB);
    return static_cast<bool>(out);
}

// The server block's locations: /known/ serves the files with their Content-Length; /chunked/
// appends an empty body after each file, which makes nginx drop the length and send the file
// chunked.
std::string Locations(const std::string& root) {
    return "    location /known/ { alias " + root + "/; }\n    location /chunked/ { alias " + root +
           "/; gzip off; chunked_transfer_encoding on; addition_types *; add_after_body "
           "/empty.txt; }\n";
}

std::string Mib(long long size) {
    return std::to_string(size / MiB) + " MiB";
}

}  // namespace

int main() {
    bench::Nginx nginx("session_get");
    if (nginx.Directory().empty()) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root = nginx.Root();
    std::ofstream(root / "empty.txt");
    for (long long size : scalingBodies) {
        if (!WriteBody(root / (std::to_string(size / MiB) + ".bin"), size)) {
            std::fprintf(stderr, "cannot write the body files in %s\n", root.c_str());
            return 1;
        }
    }

    {
        if (!nginx.Start(Locations(nginx.Root()))) {
            std::fprintf(stderr, "nginx did not start\n");
            return 1;
        }
        const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());
        const std::string big = "/" + std::to_string(bigBody / MiB) + ".bin";

        const Case known = Measure(base + "/known" + big, bigBody);
        std::printf(
            "known length, %s: session %.3f s (cpu %.3f s), curl %.3f s (cpu %.3f s); peak memory "
            "session %.0f MiB, curl %.0f MiB\n",
            Mib(bigBody).c_str(), known.session, known.sessionCpu, known.curl, known.curlCpu,
            known.sessionPeak / MiB, known.curlPeak / MiB);

        std::vector<Case> chunked;
        for (long long size : scalingBodies) {
            const Case c = Measure(base + "/chunked/" + std::to_string(size / MiB) + ".bin", size);
            std::printf(
                "chunked, %s: session %.3f s (%.2f ms/MiB, cpu %.3f s), curl %.3f s (%.2f ms/MiB, "
                "cpu %.3f s); peak memory session %.0f MiB\n",
                Mib(size).c_str(), c.session, c.session * 1000 * MiB / size, c.sessionCpu, c.curl,
                c.curl * 1000 * MiB / size, c.curlCpu, c.sessionPeak / MiB);
            chunked.push_back(c);
        }
        const Case& chunkedBig = chunked.back();
        if (!known.ok || !chunkedBig.ok) {
            std::fprintf(stderr, "a GET failed or gave a body of the wrong length\n");
            return 1;
        }

        // How much the time per MiB of a chunked body grows from 16 to 256 MiB: 1 when the
        // 10240-byte growth of the receive buffer costs time in proportion to the body. CPU time,
        // which the machine's load disturbs far less than wall time.
        const double perMibSmall = chunked.front().sessionCpu * MiB / scalingBodies[0];
        const double perMibBig = chunkedBig.sessionCpu * MiB / bigBody;
        std::printf("figure session_get_chunked_cpu_per_mib_256_vs_16 %.2f ratio goal <=1.2\n",
                    perMibBig / perMibSmall);
        std::printf("figure session_get_vs_curl_cli_known %.2f ratio goal <=1.5\n",
                    known.session / known.curl);
        std::printf("figure session_get_vs_curl_cli_chunked %.2f ratio goal <=1.5\n",
                    chunkedBig.session / chunkedBig.curl);
        std::printf("figure session_get_peak_memory_vs_body_known %.2f ratio goal <=2.2\n",
                    known.sessionPeak / bigBody);
        std::printf("figure session_get_peak_memory_vs_body_chunked %.2f ratio goal <=2.2\n",
                    chunkedBig.sessionPeak / bigBody);
    }
    return 0;
}
