// The REST interface: the token endpoint and the two recognition endpoints.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <semaphore>
#include <vector>

#include "service/options.h"
#include "service/plant_classifier.h"
#include "service/plate_reader.h"
#include "service/token_store.h"

namespace httplib {
class Server;
}

namespace service {

// Largest request body read: a picture of 8 MiB, Base64 (4/3) and percent-encoded
// (3 bytes a character) as the tool sends it.
inline constexpr size_t kMaxBody = 32 * 1024 * 1024;

// What the handlers share; lives as long as the server.
struct ServiceContext {
    ServiceContext(const Options& options, int workers);

    std::vector<Client> clients;
    TokenStore tokens;
    PlateReader plates;
    std::unique_ptr<PlantClassifier> plants;
    // Pictures decoded at once; bounds the memory decoded pixels take.
    std::counting_semaphore<64> decodeSlots;
    std::atomic<long long> nextRequestId{1};
};

void InstallRoutes(httplib::Server& server, ServiceContext& context);

}  // namespace service
