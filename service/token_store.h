// Access tokens handed out by the token endpoint; kept in memory only, until they expire.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

enum class TokenState { Valid, Unknown, Expired };

class TokenStore {
  public:
    using Clock = std::chrono::steady_clock;

    explicit TokenStore(std::chrono::seconds lifetime);

    // A new random token (192 bits, Base64url without padding); empty if the random
    // source fails.
    std::string Issue();
    TokenState Check(const std::string& token);
    std::chrono::seconds Lifetime() const { return lifetime; }

  private:
    void MakeRoom();

    std::chrono::seconds lifetime;
    std::mutex mutex;
    std::unordered_map<std::string, Clock::time_point> expiries;
    std::deque<std::string> issueOrder;  // oldest first, for evicting
};

}  // namespace service
