// Fuzzing the local recognition service's request parsing: query strings, form bodies,
// percent-decoding, Base64 and picture sniffing, on random bytes. Besides "no crash", each
// parser is held to what it promises: decoding never grows a value, what is encoded again comes
// back unchanged, and a picture of no known kind has no size.
#include <cstdint>
#include <string>
#include <string_view>

#include "service/form.h"
#include "service/image_info.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto n = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += base64Alphabet[(n >> shift) & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) return out;
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += base64Alphabet[(n >> 18) & 63];
    out += base64Alphabet[(n >> 12) & 63];
    out += rest == 2 ? base64Alphabet[(n >> 6) & 63] : '=';
    return out + "=";
}

// Every byte but the unreserved ones as %XY, so that decoding gives the bytes back.
std::string PercentEncode(std::string_view bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

void CheckForm(std::string_view text) {
    const std::string_view query = service::QueryOf(text);
    if (query.size() > text.size()) fuzz::Finding("QueryOf grew", fuzz::Shown(text));
    const service::FormFields fields = service::ParseForm(query.empty() ? text : query);
    std::string encoded;
    for (const auto& [name, value] : fields) {
        if (name.size() + value.size() > text.size())
            fuzz::Finding("ParseForm made a field longer than its input", fuzz::Shown(text));
        if (!service::FindField(fields, name) || service::CountField(fields, name) < 1)
            fuzz::Finding("FindField missed a parsed field", fuzz::Shown(name));
        if (!encoded.empty()) encoded += '&';
        encoded += PercentEncode(name) + "=" + PercentEncode(value);
    }
    // Encoding the fields again and parsing that gives the same fields.
    const service::FormFields again = service::ParseForm(encoded);
    if (again != fields)
        fuzz::Finding("form fields changed on a round trip",
                      fuzz::Shown(text) + " -> " + fuzz::Shown(encoded));
}

void CheckPercentDecode(std::string_view text) {
    const std::string decoded = service::PercentDecode(text);
    if (decoded.size() > text.size()) fuzz::Finding("PercentDecode grew", fuzz::Shown(text));
    if (service::PercentDecode(PercentEncode(decoded)) != decoded)
        fuzz::Finding("PercentDecode lost bytes on a round trip", fuzz::Shown(text));
}

void CheckBase64(std::string_view text) {
    const std::optional<std::string> decoded = service::DecodeBase64(text);
    if (decoded) {
        if (decoded->size() > text.size() / 4 * 3 + 3)
            fuzz::Finding("DecodeBase64 gave more than its input can hold", fuzz::Shown(text));
        const std::optional<std::string> again = service::DecodeBase64(EncodeBase64(*decoded));
        if (!again || *again != *decoded)
            fuzz::Finding("DecodeBase64 disagrees with a standard encoder", fuzz::Shown(text));
    }
    // Any bytes, encoded, come back.
    const std::optional<std::string> back = service::DecodeBase64(EncodeBase64(text));
    if (!back || *back != text)
        fuzz::Finding("DecodeBase64 refused or changed standard Base64", fuzz::Shown(text));
}

void CheckImageInfo(std::string_view data) {
    // A malformed size (a BMP may declare a negative width) is left to the service's range
    // check; only a picture of no known kind must have none.
    const service::ImageInfo info = service::ReadImageInfo(data);
    if (info.kind == service::ImageKind::Unknown && (info.width != 0 || info.height != 0))
        fuzz::Finding("ReadImageInfo sized an unknown picture", fuzz::Shown(data.substr(0, 32)));
    if (info.orientation < 1 || info.orientation > 8)
        fuzz::Finding("ReadImageInfo gave an orientation EXIF has not",
                      fuzz::Shown(data.substr(0, 32)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte() % 4;
    const std::string_view rest = in.Rest();
    switch (mode) {
        case 0:
            CheckForm(rest);
            break;
        case 1:
            CheckPercentDecode(rest);
            break;
        case 2:
            CheckBase64(rest);
            break;
        default:
            CheckImageInfo(rest);
            break;
    }
    return 0;
}
