// Access tokens that validate themselves: client id, expiry and a random part, MAC'd with
// HMAC-SHA-256 under a key kept in the state directory. Nothing is stored per token, so no
// number of token requests can push a valid token out, and tokens outlive a restart.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service {

using TokenKey = std::array<unsigned char, 32>;

enum class TokenState { Valid, Unknown, Expired };

// The token key at path: read when the file exists (refused when it is not a key, not the
// user's own, or can be read by others), else made from the random source and written with
// mode 0600. Gives nothing on failure and says why in error.
std::optional<TokenKey> LoadTokenKey(const std::string& path, std::string& error);

// A key for this run only, for a service without a state directory; nothing if the random
// source fails.
std::optional<TokenKey> RandomTokenKey();

class TokenAuthority {
  public:
    TokenAuthority(const TokenKey& key, std::chrono::seconds lifetime);

    // A token for clientId, valid for the lifetime from now (Base64url, no padding); empty
    // if the random source fails.
    std::string Issue(std::string_view clientId) const;
    // Unknown for a token this key did not make (altered, from another key, malformed);
    // clientId gets the client the token was issued to when it is valid.
    TokenState Check(std::string_view token, std::string* clientId = nullptr) const;
    std::chrono::seconds Lifetime() const { return lifetime; }
    // Validates tokens made with key too, but signs none with it: the key being replaced
    // while a change of key reaches every replica.
    void AlsoAccept(const TokenKey& key);

  private:
    TokenKey key;
    std::vector<TokenKey> alsoAccepted;
    std::chrono::seconds lifetime;
};

}  // namespace service
