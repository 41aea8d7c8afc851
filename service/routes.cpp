#include "service/routes.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "service/form.h"
#include "service/image_info.h"
#include "service/picture.h"

namespace service {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* tokenPath = "/oauth/2.0/token";
constexpr const char* platePath = "/rest/2.0/ocr/v1/license_plate";
constexpr const char* plantPath = "/rest/2.0/image-classify/v1/plant";
constexpr const char* formType = "application/x-www-form-urlencoded";
constexpr const char* tokenScope = "license_plate plant";

// Pictures must be this size a side: smaller hold nothing to read, larger cost too much.
constexpr long minSide = 15;
constexpr long maxPictureSide = 8192;
// Decoded pictures are brought down to about this size; a plate that is the main subject
// stays far above readable size.
constexpr int decodeSide = 2048;

void Answer(Response& res, int status, const Json& body) {
    res.status = status;
    res.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Fail(Response& res, const ServiceError& error) {
    Answer(res, error.status, Json{{"error_code", error.code}, {"error_msg", error.message}});
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The media type of the Content-Type header, without parameters, in lower case.
std::string MediaType(const Request& req) {
    std::string type = req.contentType;
    type = type.substr(0, type.find(';'));
    size_t first = type.find_first_not_of(" \t");
    size_t last = type.find_last_not_of(" \t");
    if (first == std::string::npos) return {};
    return Lower(type.substr(first, last - first + 1));
}

bool SameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// ---- token endpoint (RFC 6749, client credentials grant) ----

void NoStore(Response& res) {
    res.headers.emplace_back("Cache-Control", "no-store");
    res.headers.emplace_back("Pragma", "no-cache");
}

void TokenError(Response& res, int status, const char* error, const char* description) {
    NoStore(res);
    Answer(res, status, Json{{"error", error}, {"error_description", description}});
}

// Client credentials from HTTP Basic authentication (RFC 6749 section 2.3.1): id and
// secret form-encoded, joined by a colon, in Base64.
bool BasicCredentials(const Request& req, std::string& id, std::string& secret) {
    const std::string& header = req.authorization;
    if (Lower(header.substr(0, 6)) != "basic ") return false;
    std::optional<std::string> decoded = DecodeBase64(header.substr(6));
    if (!decoded) return false;
    size_t colon = decoded->find(':');
    if (colon == std::string::npos) return false;
    id = PercentDecode(decoded->substr(0, colon));
    secret = PercentDecode(decoded->substr(colon + 1));
    return true;
}

void HandleToken(ServiceContext& context, const Request& req, Response& res) {
    const std::string& body = req.body;
    FormFields fields = ParseForm(QueryOf(req.target));
    if (MediaType(req) == formType) {
        FormFields bodyFields = ParseForm(body);
        fields.insert(fields.end(), bodyFields.begin(), bodyFields.end());
    }
    for (const char* name : {"grant_type", "client_id", "client_secret"}) {
        if (CountField(fields, name) > 1) {
            return TokenError(res, 400, "invalid_request", "a parameter is repeated");
        }
    }
    std::optional<std::string> grant = FindField(fields, "grant_type");
    if (!grant) return TokenError(res, 400, "invalid_request", "grant_type is missing");
    if (*grant != "client_credentials") {
        return TokenError(res, 400, "unsupported_grant_type",
                          "only client_credentials is supported");
    }
    std::optional<std::string> id = FindField(fields, "client_id");
    std::optional<std::string> secret = FindField(fields, "client_secret");
    std::string basicId, basicSecret;
    bool basic = BasicCredentials(req, basicId, basicSecret);
    if (basic && (id || secret)) {
        return TokenError(res, 400, "invalid_request", "more than one authentication method");
    }
    if (basic) id = basicId, secret = basicSecret;
    bool known = false;
    for (const Client& client : context.clients) {
        known = known || (id && secret && client.id == *id && SameSecret(client.secret, *secret));
    }
    if (!known) {
        if (basic) {
            res.headers.emplace_back("WWW-Authenticate", "Basic realm=\"recognition-service\"");
        }
        return TokenError(res, 401, "invalid_client",
                          id ? "client authentication failed" : "client credentials missing");
    }
    std::string token = context.tokens.Issue(*id);
    if (token.empty()) return TokenError(res, 500, "server_error", "no random token");
    NoStore(res);
    // access_token first: clients cut it out of the compact text.
    Answer(res, 200,
           Json{{"access_token", token},
                {"token_type", "bearer"},
                {"expires_in", context.tokens.Lifetime().count()},
                {"scope", tokenScope}});
}

// ---- recognition endpoints ----

// The checks both endpoints share, up to a picture whose header is sound. Answers the
// error itself and gives nothing when a check fails.
// True when the client a token was issued to is still one of the service's clients: taking
// a client out of the configuration ends its tokens.
bool KnownClient(const ServiceContext& context, const std::string& id) {
    return std::any_of(context.clients.begin(), context.clients.end(),
                       [&id](const Client& client) { return client.id == id; });
}

// The checks of a recognition request that cost no picture work: the token and the
// content type.
const ServiceError* AccessError(const ServiceContext& context, const Request& req) {
    std::optional<std::string> token = FindField(ParseForm(QueryOf(req.target)), "access_token");
    if (!token || token->empty()) return &tokenMissing;
    std::string clientId;
    switch (context.tokens.Check(*token, &clientId)) {
        case TokenState::Unknown:
            return &tokenUnknown;
        case TokenState::Expired:
            return &tokenExpired;
        case TokenState::Valid:
            break;
    }
    if (!KnownClient(context, clientId)) return &tokenUnknown;
    if (MediaType(req) != formType) return &wrongContentType;
    return nullptr;
}

std::optional<std::string> CheckedPicture(ServiceContext& context, const Request& req,
                                          Response& res, ImageInfo& info) {
    const std::string& body = req.body;
    if (const ServiceError* error = AccessError(context, req)) {
        return Fail(res, *error), std::nullopt;
    }
    std::optional<std::string> field = FindField(ParseForm(body), "image");
    if (!field) return Fail(res, imageMissing), std::nullopt;
    if (field->empty()) return Fail(res, imageEmpty), std::nullopt;
    std::optional<std::string> picture = DecodeBase64(*field);
    field.reset();
    if (!picture) return Fail(res, imageNotBase64), std::nullopt;
    if (picture->empty()) return Fail(res, imageEmpty), std::nullopt;
    info = ReadImageInfo(*picture);
    if (info.kind == ImageKind::Unknown) return Fail(res, imageFormat), std::nullopt;
    if (info.width == 0 || info.height == 0) return Fail(res, imageUndecodable), std::nullopt;
    if (info.width < minSide || info.height < minSide || info.width > maxPictureSide ||
        info.height > maxPictureSide) {
        return Fail(res, imageSize), std::nullopt;
    }
    return picture;
}

// Holds one of the decoding slots for its lifetime.
class DecodeSlot {
  public:
    explicit DecodeSlot(std::counting_semaphore<64>& slots) : slots(slots) { slots.acquire(); }
    ~DecodeSlot() { slots.release(); }
    DecodeSlot(const DecodeSlot&) = delete;
    DecodeSlot& operator=(const DecodeSlot&) = delete;

  private:
    std::counting_semaphore<64>& slots;
};

void HandlePlate(ServiceContext& context, const Request& req, Response& res) {
    ImageInfo info;
    std::optional<std::string> picture = CheckedPicture(context, req, res, info);
    if (!picture) return;
    DecodeSlot slot(context.decodeSlots);
    PlateResult result = context.plates.ReadPicture(*picture, info, decodeSide);
    if (result.error) return Fail(res, *result.error);
    const PlateReading* reading = &*result.reading;
    Answer(res, 200,
           Json{{"request_id", context.nextRequestId++},
                {"plate",
                 {{"number", reading->number},
                  {"color", ColorName(reading->color)},
                  {"confidence", std::round(reading->confidence * 1000) / 1000},
                  {"box", Json::array({{reading->box[0].x, reading->box[0].y},
                                       {reading->box[1].x, reading->box[1].y},
                                       {reading->box[2].x, reading->box[2].y},
                                       {reading->box[3].x, reading->box[3].y}})}}}});
}

void HandlePlant(ServiceContext& context, const Request& req, Response& res) {
    ImageInfo info;
    std::optional<std::string> picture = CheckedPicture(context, req, res, info);
    if (!picture) return;
    DecodeSlot slot(context.decodeSlots);
    std::optional<RgbImage> image = DecodePicture(*picture, info, decodeSide);
    picture.reset();
    if (!image) return Fail(res, imageUndecodable);
    if (!context.plants->HasModel()) return Fail(res, noPlantModel);
    Json result = Json::array();
    for (const PlantGuess& guess : context.plants->Classify(*image)) {
        result.push_back({{"name", guess.name}, {"score", guess.score}});
    }
    Answer(res, 200, Json{{"request_id", context.nextRequestId++}, {"result", result}});
}

using Handler = void (*)(ServiceContext&, const Request&, Response&);

struct Route {
    const char* path;
    Handler handler;
    bool recognition;
};

constexpr Route routeTable[] = {
    {tokenPath, HandleToken, false},
    {platePath, HandlePlate, true},
    {plantPath, HandlePlant, true},
};

const Route* FindRoute(const std::string& path) {
    for (const Route& route : routeTable) {
        if (path == route.path) return &route;
    }
    return nullptr;
}

}  // namespace

ServiceContext::ServiceContext(const Options& options, const TokenKey& tokenKey, int workers)
    : clients(options.clients),
      tokens(tokenKey, std::chrono::seconds(options.tokenLifetime)),
      plates(options.plateModel, workers),
      plants(MakePlantClassifier()),
      decodeSlots(std::clamp(workers, 1, 64)) {}

std::string PathOf(const std::string& target) {
    return target.substr(0, target.find('?'));
}

bool IsRecognition(const ServiceContext& context, const Request& request) {
    const Route* route = FindRoute(PathOf(request.target));
    return request.method == "POST" && route != nullptr && route->recognition &&
           AccessError(context, request) == nullptr;
}

Response Serve(ServiceContext& context, const Request& request) {
    Response res;
    const Route* route = FindRoute(PathOf(request.target));
    if (route == nullptr) {
        Fail(res, noSuchEndpoint);
    } else if (request.method != "POST") {
        res.headers.emplace_back("Allow", "POST");
        Fail(res, methodNotAllowed);
    } else {
        route->handler(context, request, res);
    }
    return res;
}

Response ErrorResponse(const ServiceError& error) {
    Response res;
    Fail(res, error);
    return res;
}

}  // namespace service
