// Loads one picture file as the tool does (read, show, encode), posts it to the plate endpoint
// of RECOGNIZER_HOST and prints the process's peak memory next to the file's size.
// Usage: tool_memory_probe FILE
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/recognition.h"
#include "app/toolkit/toolkit.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::error_code error;
    const double fileMb = double(std::filesystem::file_size(argv[1], error)) / 1048576.0;
    toolkit::Initialise(argc, argv);
    CreateSession();
    processHeap = GetProcessHeap();
    {
        MainWindow window;
        window.LoadPicture(Text(argv[1]));
        const Text answer = PostPicture(PlatePath());
        std::printf("encoded %d bytes, answer %d bytes\n", TextLength(encodedPicture),
                    TextLength(answer));
    }
    ReleaseGlobals();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = double(usage.ru_maxrss) / 1024.0;
    std::printf("file %.1f MB, peak memory %.1f MB (%.2f times the file)\n", fileMb, peakMb,
                fileMb > 0 ? peakMb / fileMb : 0.0);
    return 0;
}
