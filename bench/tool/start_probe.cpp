// The tool's start-up, as its main runs it, ending as soon as the window is shown with the token
// fetched: prints "shown" (and whether a token came) so that the benchmark can time it.
#include <cstdio>

#include "app/globals.h"
#include "app/start_up.h"

int main(int argc, char** argv) {
    const std::unique_ptr<MainWindow> window = StartUp(argc, argv);
    if (!window) return 1;
    std::printf("shown %s\n", TextLength(accessToken) > 0 ? "token" : "no-token");
    std::fflush(stdout);
    return 0;
}
