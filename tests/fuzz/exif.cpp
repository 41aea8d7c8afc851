// Fuzzing the EXIF orientation reader on random bytes: nothing crashes or reads outside the
// data, and the answer is 0 or an orientation from 1 to 8.
#include <cstdint>
#include <string>

#include "app/toolkit/exif.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int orientation = toolkit::ExifOrientation(data, size);
    if (orientation < 0 || orientation > 8)
        fuzz::Finding("orientation out of range", std::to_string(orientation));
    return 0;
}
