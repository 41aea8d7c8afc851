// Encoding benchmark: EncodeBase64 and the picture pipeline (EncodeBase64, BytesToText,
// PercentEncode with both options off) against coreutils' `base64 -w0` on the same 64 MiB of
// random bytes, in the same run. Each time is the best of a few rounds. Peak memory is the rise of
// VmHWM in a forked child that runs the pipeline once, from its resident size before (the peak
// is reset with /proc/self/clear_refs first), so it counts every page the pipeline touches.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "bench/support/bench_support.h"
#include "tests/support/spawn.h"
#include "text/text.h"

extern char** environ;

namespace {

constexpr int inputSize = 64 << 20;  // 64 MiB: large enough that the per-call costs vanish
constexpr int rounds = 7;  // best of seven rounds keeps the figures steady on a shared machine

using Clock = std::chrono::steady_clock;

// Seconds that work takes, lowering best when it beats it.
void Time(double& best, const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
}

// Random bytes from xorshift64*, fixed seed.
Bytes RandomInput() {
    Bytes b = BlankBytes(inputSize);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < inputSize; i += 8) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const std::uint64_t word = state * 0x2545F4914F6CDD1Du;
        std::memcpy(b.data() + i, &word, 8);
    }
    return b;
}

Text Pipeline(const Bytes& picture) {
    return PercentEncode(BytesToText(EncodeBase64(picture)));
}

class TempFile {
  public:
    TempFile() {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/encode-bench-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd >= 0) close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

bool WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), b.size());
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `base64 -w0 input > output`; false when it cannot be run or fails.
bool RunBase64Cli(const std::string& input, const std::string& output) {
    const pid_t pid = testsupport::Spawn({"base64", "-w0", input}, false, output);
    if (pid < 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Bytes the pipeline adds to the peak resident size, measured in a forked child; -1 on failure.
long PipelinePeakBytes(const Bytes& picture) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        close(fds[0]);
        {
            std::ofstream reset("/proc/self/clear_refs");
            reset << "5";  // resets VmHWM to the current resident size
        }
        const long before = bench::StatusKiB("VmRSS");
        long rise = -1;
        {
            Text encoded = Pipeline(picture);
            const long peak = bench::StatusKiB("VmHWM");
            if (before >= 0 && peak >= 0 && !encoded.empty()) rise = (peak - before) * 1024;
        }
        const ssize_t written = write(fds[1], &rise, sizeof rise);
        _exit(written == sizeof rise ? 0 : 1);
    }
    close(fds[1]);
    long rise = -1;
    if (read(fds[0], &rise, sizeof rise) != sizeof rise) rise = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return rise;
}

}  // namespace

int main() {
    const Bytes picture = RandomInput();
    const double mib = inputSize / 1048576.0;

    // Memory first, while the process holds nothing but the input.
    const long peak = PipelinePeakBytes(picture);
    if (peak < 0) {
        std::fprintf(stderr, "could not measure the pipeline's peak memory\n");
        return 1;
    }

    TempFile input, output;
    if (!WriteFile(input.Path(), picture)) {
        std::fprintf(stderr, "cannot write %s\n", input.Path().c_str());
        return 1;
    }
    if (!RunBase64Cli(input.Path(), output.Path())) {
        std::fprintf(stderr, "base64 -w0 failed\n");
        return 1;
    }

    // Our output must be exactly what base64 -w0 writes.
    const std::string reference = ReadFile(output.Path());
    const Bytes encoded = EncodeBase64(picture);
    if (BytesToText(encoded).view() != reference) {
        std::fprintf(stderr, "EncodeBase64 differs from base64 -w0\n");
        return 1;
    }
    const Text piped = Pipeline(picture);
    if (TextLength(piped) != 3 * static_cast<int>(reference.size())) {
        std::fprintf(stderr, "the pipeline's output has the wrong length\n");
        return 1;
    }

    // The three take turns in every round, so that a busy moment on the machine hits all of them.
    double cli = 1e9, encode = 1e9, pipeline = 1e9;
    for (int round = 0; round < rounds; ++round) {
        Time(cli, [&] { RunBase64Cli(input.Path(), output.Path()); });
        Time(encode, [&] { (void)EncodeBase64(picture); });
        Time(pipeline, [&] { (void)Pipeline(picture); });
    }

    std::printf("input: %.0f MiB of random bytes; best of %d rounds each\n", mib, rounds);
    std::printf("base64 -w0 (coreutils, file to file)   %8.3f s\n", cli);
    std::printf("EncodeBase64                           %8.3f s\n", encode);
    std::printf("pipeline (Base64, text, percent)       %8.3f s\n", pipeline);
    std::printf("pipeline peak memory above the input   %8.1f MiB (VmHWM rise in a forked child)\n",
                peak / 1048576.0);
    std::printf("figure encode_vs_base64_cli %.2f ratio goal <=1.0\n", encode / cli);
    std::printf("figure pipeline_vs_base64_cli %.2f ratio goal <=4.0\n", pipeline / cli);
    std::printf("figure pipeline_peak_memory_vs_input %.2f ratio goal <=6.0\n",
                static_cast<double>(peak) / inputSize);
    return 0;
}
