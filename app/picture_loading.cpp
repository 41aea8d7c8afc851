#include "app/picture_loading.h"

#include <cstdint>

#include "app/toolkit/toolkit.h"

namespace {

// The request body, "image=" and 4 × ceil(n / 3) × 3 encoded bytes, must keep within a 32-bit
// length: files above 500 MiB are refused rather than wrapped.
constexpr std::uint64_t maxFileBytes = 500u * 1024u * 1024u;

}  // namespace

Bytes ReadFileBytes(const Text& path) {
    return toolkit::ReadWholeFile(path, maxFileBytes);
}

Text PercentEncodeBase64(Bytes&& base64) {
    // Each step takes over the buffer of the one before: the Base64 text and its percent form
    // are never held twice.
    return PercentEncode(BytesToText(std::move(base64)));
}
