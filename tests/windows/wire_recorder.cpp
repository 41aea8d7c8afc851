// Records the raw bytes of the requests it gets, for wire_compare.sh: listens on an ephemeral
// port of 127.0.0.1 (printed as "port N"), answers each request "200 ok", and once COUNT requests
// have come (or a minute has passed) writes request i to DIR/NN.txt and ends.
//   wire-recorder DIR COUNT
#include "tests/support/test_server.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// The client runs under Wine on a busy machine: give it time.
constexpr int waitMilliseconds = 60000;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wire-recorder DIR COUNT\n");
        return 2;
    }
    std::string dir = argv[1];
    std::size_t count = std::stoul(argv[2]);
    testsupport::TestServer server;
    std::printf("port %d\n", server.Port());
    std::fflush(stdout);
    bool complete = server.WaitForRequests(count, waitMilliseconds);
    auto requests = server.Requests();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%02zu.txt", i + 1);
        std::ofstream(dir + name, std::ios::binary) << requests[i].raw;
    }
    std::printf("%zu requests recorded\n", requests.size());
    return complete ? 0 : 1;
}
