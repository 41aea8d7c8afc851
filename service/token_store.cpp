#include "service/token_store.h"

#include <openssl/rand.h>

namespace service {
namespace {

// Random bytes per token; 192 bits, well beyond guessing.
constexpr int kTokenBytes = 24;
// Keeps memory bounded when a client asks for tokens in a loop; the oldest go first.
constexpr size_t kMaxTokens = 100000;

std::string Base64Url(const unsigned char* data, size_t size) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        unsigned value = data[i] << 16;
        if (i + 1 < size) value |= data[i + 1] << 8;
        if (i + 2 < size) value |= data[i + 2];
        out += alphabet[(value >> 18) & 63];
        out += alphabet[(value >> 12) & 63];
        if (i + 1 < size) out += alphabet[(value >> 6) & 63];
        if (i + 2 < size) out += alphabet[value & 63];
    }
    return out;
}

}  // namespace

TokenStore::TokenStore(std::chrono::seconds lifetime) : lifetime(lifetime) {}

std::string TokenStore::Issue() {
    unsigned char bytes[kTokenBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
    std::string token = Base64Url(bytes, sizeof bytes);
    std::lock_guard lock(mutex);
    MakeRoom();
    expiries[token] = Clock::now() + lifetime;
    issueOrder.push_back(token);
    return token;
}

TokenState TokenStore::Check(const std::string& token) {
    std::lock_guard lock(mutex);
    auto found = expiries.find(token);
    if (found == expiries.end()) return TokenState::Unknown;
    return Clock::now() < found->second ? TokenState::Valid : TokenState::Expired;
}

// Drops tokens from the old end: all expired ones, and the oldest while the store is full.
// Every token lives equally long, so issue order is expiry order.
void TokenStore::MakeRoom() {
    auto now = Clock::now();
    while (!issueOrder.empty()) {
        auto found = expiries.find(issueOrder.front());
        bool expired = found == expiries.end() || found->second <= now;
        if (!expired && expiries.size() < kMaxTokens) break;
        if (found != expiries.end()) expiries.erase(found);
        issueOrder.pop_front();
    }
}

}  // namespace service
