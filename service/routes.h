// The REST interface: the token endpoint and the two recognition endpoints, apart from the
// server that carries the requests.
#pragma once

#include <atomic>
#include <memory>
#include <semaphore>
#include <string>
#include <utility>
#include <vector>

#include "service/errors.h"
#include "service/options.h"
#include "service/plant_classifier.h"
#include "service/plate_reader.h"
#include "service/tokens.h"

namespace service {

// Largest request body read: a picture of 8 MiB, Base64 (4/3) and percent-encoded
// (3 bytes a character) as the tool sends it.
inline constexpr size_t maxBody = 32 * 1024 * 1024;

// A request as the routes see it, read whole.
struct Request {
    std::string method;
    std::string target;  // path and query as sent
    std::string contentType;
    std::string authorization;
    std::string body;
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond Content-Type
    std::string body;                                          // JSON
};

// What the handlers share; lives as long as the server.
struct ServiceContext {
    ServiceContext(const Options& options, const TokenKey& tokenKey, int workers);

    std::vector<Client> clients;
    TokenAuthority tokens;
    PlateReader plates;
    std::unique_ptr<PlantClassifier> plants;
    // Pictures decoded at once; bounds the memory decoded pixels take.
    std::counting_semaphore<64> decodeSlots;
    std::atomic<long long> nextRequestId{1};
};

// The path of a request target, without the query.
std::string PathOf(const std::string& target);

// True for the requests that will read a picture: they run on the recognition workers. A
// recognition request refused for its token or content type is not one: it is answered
// at once and never waits for a worker.
bool IsRecognition(const ServiceContext& context, const Request& request);

// Answers one request (token, recognition or an error).
Response Serve(ServiceContext& context, const Request& request);

// The error JSON {"error_code": N, "error_msg": "..."} with its status.
Response ErrorResponse(const ServiceError& error);

}  // namespace service
