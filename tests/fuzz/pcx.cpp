// Fuzzing the PCX decoder on random bytes: nothing crashes or reads outside the data, nothing
// large is allocated for data that cannot hold it (libFuzzer's memory limit stops the run), and
// a picture that decodes is what its header says: its size, every pixel opaque, within the
// pixel cap.
#include <cstdint>
#include <string>

#include "app/toolkit/pcx.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    toolkit::Pixels pixels;
    if (!toolkit::DecodePcx(data, size, pixels)) return 0;
    const int width = (data[8] | (data[9] << 8)) - (data[4] | (data[5] << 8)) + 1;
    const int height = (data[10] | (data[11] << 8)) - (data[6] | (data[7] << 8)) + 1;
    if (pixels.width != width || pixels.height != height)
        fuzz::Finding("size differs from the header",
                      std::to_string(pixels.width) + "x" + std::to_string(pixels.height) +
                          " decoded, " + std::to_string(width) + "x" + std::to_string(height) +
                          " in the header");
    const std::size_t count = std::size_t(width) * std::size_t(height);
    if (count > toolkit::maxPcxPixels || pixels.argb.size() != count)
        fuzz::Finding("pixel count", std::to_string(pixels.argb.size()));
    for (std::uint32_t pixel : pixels.argb)
        if ((pixel >> 24) != 0xFF) fuzz::Finding("pixel not opaque", std::to_string(pixel));
    return 0;
}
