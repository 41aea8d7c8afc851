#include "app/configuration.h"

#include <cstdlib>

namespace {

constexpr const char* defaultHost = "127.0.0.1:8443";
constexpr const char* builtInApiKey = "Qk3TzW8vLhN2pYs6GdXe4RaJ";
constexpr const char* builtInSecretKey = "h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";

Text Setting(const char* variable, const char* builtIn) {
    const char* value = std::getenv(variable);
    return Text((value != nullptr && *value != '\0') ? value : builtIn);
}

}  // namespace

Text ServiceHost() {
    return Setting("RECOGNIZER_HOST", defaultHost);
}

Text ApiKey() {
    return Setting("RECOGNIZER_API_KEY", builtInApiKey);
}

Text SecretKey() {
    return Setting("RECOGNIZER_SECRET_KEY", builtInSecretKey);
}
