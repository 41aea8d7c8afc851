#include "service/form.h"

#include <array>

namespace service {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr int notBase64 = -1;
constexpr int skippedMark = -2;

constexpr std::array<int, 256> MakeBase64Table() {
    std::array<int, 256> table{};
    for (int& v : table)
        v = notBase64;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    table[' '] = 62;
    table['\r'] = skippedMark;
    table['\n'] = skippedMark;
    return table;
}

constexpr std::array<int, 256> base64Table = MakeBase64Table();

}  // namespace

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

FormFields ParseForm(std::string_view text) {
    FormFields fields;
    while (!text.empty()) {
        size_t amp = text.find('&');
        std::string_view piece = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (piece.empty()) continue;
        size_t eq = piece.find('=');
        std::string_view name = piece.substr(0, eq);
        std::string_view value =
            eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        fields.emplace_back(PercentDecode(name), PercentDecode(value));
    }
    return fields;
}

std::optional<std::string> FindField(const FormFields& fields, std::string_view name) {
    for (const auto& [n, v] : fields) {
        if (n == name) return v;
    }
    return std::nullopt;
}

size_t CountField(const FormFields& fields, std::string_view name) {
    size_t count = 0;
    for (const auto& field : fields)
        count += field.first == name ? 1 : 0;
    return count;
}

std::string_view QueryOf(std::string_view target) {
    size_t mark = target.find('?');
    if (mark == std::string_view::npos) return {};
    std::string_view query = target.substr(mark + 1);
    return query.substr(0, query.find('#'));
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned buffer = 0;
    int bits = 0;
    size_t symbols = 0;
    size_t padding = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        int value = base64Table[static_cast<unsigned char>(c)];
        if (value == skippedMark) continue;
        if (value == notBase64 || padding > 0) return std::nullopt;  // data after padding
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        ++symbols;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    // One symbol left over holds no whole byte; padding must fill the last group exactly.
    size_t rest = symbols % 4;
    if (rest == 1) return std::nullopt;
    if (padding > 0 && (rest == 0 || rest + padding != 4)) return std::nullopt;
    return out;
}

}  // namespace service
