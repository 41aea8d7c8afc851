#include "service/tokens.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "service/state_dir.h"

namespace service {
namespace {

// Layout of a token before Base64url: version, expiry (seconds since the epoch, big
// endian), random part, client id, then the HMAC-SHA-256 of all that.
constexpr unsigned char tokenVersion = 1;
constexpr size_t expiryBytes = 8;
// 128 random bits: two tokens issued in the same second still differ.
constexpr size_t randomBytes = 16;
constexpr size_t macBytes = 32;
constexpr size_t fixedBytes = 1 + expiryBytes + randomBytes;
// Client ids are short names; a longer one in a token is a forgery attempt.
constexpr size_t maxClientId = 256;

const char tokenAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string Base64Url(const unsigned char* data, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        unsigned value = data[i] << 16;
        if (i + 1 < size) value |= data[i + 1] << 8;
        if (i + 2 < size) value |= data[i + 2];
        out += tokenAlphabet[(value >> 18) & 63];
        out += tokenAlphabet[(value >> 12) & 63];
        if (i + 1 < size) out += tokenAlphabet[(value >> 6) & 63];
        if (i + 2 < size) out += tokenAlphabet[value & 63];
    }
    return out;
}

// Strict: only the alphabet, no padding, and no stray bits in the last symbol, so that
// one token has exactly one spelling.
std::optional<std::vector<unsigned char>> FromBase64Url(std::string_view text) {
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<unsigned char> out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        const char* at = std::strchr(tokenAlphabet, c);
        if (c == '\0' || at == nullptr) return std::nullopt;
        value = (value << 6) | unsigned(at - tokenAlphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(value >> bits));
        }
    }
    if ((value & ((1u << bits) - 1)) != 0) return std::nullopt;
    return out;
}

bool Mac(const TokenKey& key, const std::vector<unsigned char>& data, unsigned char* mac) {
    unsigned length = 0;
    return HMAC(EVP_sha256(), key.data(), int(key.size()), data.data(), data.size(), mac,
                &length) != nullptr &&
           length == macBytes;
}

long long Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Writes key to path with mode 0600 without ever replacing a file there: through a
// temporary file and link(), so that two services starting at once agree on one key.
bool WriteNewKey(const std::string& path, const TokenKey& key) {
    std::string temporary = path + ".new." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, key.data(), key.size()) == ssize_t(key.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && (::link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST);
    ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

std::optional<TokenKey> RandomTokenKey() {
    TokenKey key;
    if (RAND_bytes(key.data(), int(key.size())) != 1) return std::nullopt;
    return key;
}

std::optional<TokenKey> LoadTokenKey(const std::string& path, std::string& error) {
    if (::access(path.c_str(), F_OK) != 0) {
        std::optional<TokenKey> fresh = RandomTokenKey();
        if (!fresh || !WriteNewKey(path, *fresh)) {
            error = "cannot make the token key " + path;
            return std::nullopt;
        }
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read the token key " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    TokenKey key;
    if (!CheckPrivateFile(fd, path, error)) {
        ::close(fd);
        return std::nullopt;
    }
    unsigned char extra;
    bool whole =
        ::read(fd, key.data(), key.size()) == ssize_t(key.size()) && ::read(fd, &extra, 1) == 0;
    ::close(fd);
    if (!whole) {
        error = "the token key " + path + " is not " + std::to_string(key.size()) +
                " bytes; remove it to make a new one (tokens issued with it end)";
        return std::nullopt;
    }
    return key;
}

TokenAuthority::TokenAuthority(const TokenKey& key, std::chrono::seconds lifetime)
    : key(key), lifetime(lifetime) {}

void TokenAuthority::AlsoAccept(const TokenKey& previous) {
    alsoAccepted.push_back(previous);
}

std::string TokenAuthority::Issue(std::string_view clientId) const {
    if (clientId.size() > maxClientId) return {};
    std::vector<unsigned char> data(fixedBytes);
    data[0] = tokenVersion;
    unsigned long long expiry = static_cast<unsigned long long>(Now() + lifetime.count());
    for (size_t i = 0; i < expiryBytes; ++i)
        data[1 + i] = static_cast<unsigned char>(expiry >> (8 * (expiryBytes - 1 - i)));
    if (RAND_bytes(data.data() + 1 + expiryBytes, randomBytes) != 1) return {};
    data.insert(data.end(), clientId.begin(), clientId.end());
    unsigned char mac[macBytes];
    if (!Mac(key, data, mac)) return {};
    data.insert(data.end(), mac, mac + macBytes);
    return Base64Url(data.data(), data.size());
}

TokenState TokenAuthority::Check(std::string_view token, std::string* clientId) const {
    constexpr size_t maxToken = (fixedBytes + maxClientId + macBytes) * 4 / 3 + 4;
    if (token.size() > maxToken) return TokenState::Unknown;
    std::optional<std::vector<unsigned char>> data = FromBase64Url(token);
    if (!data || data->size() < fixedBytes + macBytes) return TokenState::Unknown;
    std::vector<unsigned char> body(data->begin(), data->end() - macBytes);
    auto madeWith = [&](const TokenKey& candidate) {
        unsigned char mac[macBytes];
        return Mac(candidate, body, mac) &&
               CRYPTO_memcmp(mac, data->data() + body.size(), macBytes) == 0;
    };
    if (body[0] != tokenVersion ||
        (!madeWith(key) && std::none_of(alsoAccepted.begin(), alsoAccepted.end(), madeWith))) {
        return TokenState::Unknown;
    }
    unsigned long long expiry = 0;
    for (size_t i = 0; i < expiryBytes; ++i)
        expiry = (expiry << 8) | body[1 + i];
    if (clientId != nullptr) clientId->assign(body.begin() + fixedBytes, body.end());
    return static_cast<long long>(expiry) > Now() ? TokenState::Valid : TokenState::Expired;
}

}  // namespace service
