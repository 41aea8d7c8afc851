#include "service/routes.h"

#include <httplib.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "service/errors.h"
#include "service/form.h"
#include "service/image_info.h"
#include "service/picture.h"
#include "service/request_log.h"

namespace service {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kTokenPath = "/oauth/2.0/token";
constexpr const char* kPlatePath = "/rest/2.0/ocr/v1/license_plate";
constexpr const char* kPlantPath = "/rest/2.0/image-classify/v1/plant";
constexpr const char* kFormType = "application/x-www-form-urlencoded";
constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kTokenScope = "license_plate plant";

// Pictures must be this size a side: smaller hold nothing to read, larger cost too much.
constexpr long kMinSide = 15;
constexpr long kMaxSide = 8192;
// Decoded pictures are brought down to about this size; a plate that is the main subject
// stays far above readable size.
constexpr int kDecodeSide = 2048;

void Answer(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), kJsonType);
}

void Fail(httplib::Response& res, const ServiceError& error) {
    Answer(res, error.status, Json{{"error_code", error.code}, {"error_msg", error.message}});
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The media type of the Content-Type header, without parameters, in lower case.
std::string MediaType(const httplib::Request& req) {
    std::string type = req.get_header_value("Content-Type");
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

void TokenError(httplib::Response& res, int status, const char* error, const char* description) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("Pragma", "no-cache");
    Answer(res, status, Json{{"error", error}, {"error_description", description}});
}

// Client credentials from HTTP Basic authentication (RFC 6749 section 2.3.1): id and
// secret form-encoded, joined by a colon, in Base64.
bool BasicCredentials(const httplib::Request& req, std::string& id, std::string& secret) {
    std::string header = req.get_header_value("Authorization");
    if (Lower(header.substr(0, 6)) != "basic ") return false;
    std::optional<std::string> decoded = DecodeBase64(header.substr(6));
    if (!decoded) return false;
    size_t colon = decoded->find(':');
    if (colon == std::string::npos) return false;
    id = PercentDecode(decoded->substr(0, colon));
    secret = PercentDecode(decoded->substr(colon + 1));
    return true;
}

void HandleToken(ServiceContext& context, const httplib::Request& req, const std::string& body,
                 httplib::Response& res) {
    FormFields fields = ParseForm(QueryOf(req.target));
    if (MediaType(req) == kFormType) {
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
        if (basic) res.set_header("WWW-Authenticate", "Basic realm=\"recognition-service\"");
        return TokenError(res, 401, "invalid_client",
                          id ? "client authentication failed" : "client credentials missing");
    }
    std::string token = context.tokens.Issue();
    if (token.empty()) return TokenError(res, 500, "server_error", "no random token");
    res.set_header("Cache-Control", "no-store");
    res.set_header("Pragma", "no-cache");
    // access_token first: clients cut it out of the compact text.
    Answer(res, 200,
           Json{{"access_token", token},
                {"token_type", "bearer"},
                {"expires_in", context.tokens.Lifetime().count()},
                {"scope", kTokenScope}});
}

// ---- recognition endpoints ----

// The checks both endpoints share, up to a picture whose header is sound. Answers the
// error itself and gives nothing when a check fails.
std::optional<std::string> CheckedPicture(ServiceContext& context, const httplib::Request& req,
                                          const std::string& body, httplib::Response& res,
                                          ImageInfo& info) {
    std::optional<std::string> token = FindField(ParseForm(QueryOf(req.target)), "access_token");
    if (!token || token->empty()) return Fail(res, kTokenMissing), std::nullopt;
    switch (context.tokens.Check(*token)) {
        case TokenState::Unknown:
            return Fail(res, kTokenUnknown), std::nullopt;
        case TokenState::Expired:
            return Fail(res, kTokenExpired), std::nullopt;
        case TokenState::Valid:
            break;
    }
    if (MediaType(req) != kFormType) return Fail(res, kWrongContentType), std::nullopt;
    std::optional<std::string> field = FindField(ParseForm(body), "image");
    if (!field) return Fail(res, kImageMissing), std::nullopt;
    if (field->empty()) return Fail(res, kImageEmpty), std::nullopt;
    std::optional<std::string> picture = DecodeBase64(*field);
    field.reset();
    if (!picture) return Fail(res, kImageNotBase64), std::nullopt;
    if (picture->empty()) return Fail(res, kImageEmpty), std::nullopt;
    info = ReadImageInfo(*picture);
    if (info.kind == ImageKind::Unknown) return Fail(res, kImageFormat), std::nullopt;
    if (info.width == 0 || info.height == 0) return Fail(res, kImageUndecodable), std::nullopt;
    if (info.width < kMinSide || info.height < kMinSide || info.width > kMaxSide ||
        info.height > kMaxSide) {
        return Fail(res, kImageSize), std::nullopt;
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

void HandlePlate(ServiceContext& context, const httplib::Request& req, const std::string& body,
                 httplib::Response& res) {
    ImageInfo info;
    std::optional<std::string> picture = CheckedPicture(context, req, body, res, info);
    if (!picture) return;
    DecodeSlot slot(context.decodeSlots);
    PlateResult result = context.plates.ReadPicture(*picture, info, kDecodeSide);
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

void HandlePlant(ServiceContext& context, const httplib::Request& req, const std::string& body,
                 httplib::Response& res) {
    ImageInfo info;
    std::optional<std::string> picture = CheckedPicture(context, req, body, res, info);
    if (!picture) return;
    DecodeSlot slot(context.decodeSlots);
    std::optional<RgbImage> image = DecodePicture(*picture, info, kDecodeSide);
    picture.reset();
    if (!image) return Fail(res, kImageUndecodable);
    if (!context.plants->HasModel()) return Fail(res, kNoPlantModel);
    Json result = Json::array();
    for (const PlantGuess& guess : context.plants->Classify(*image)) {
        result.push_back({{"name", guess.name}, {"score", guess.score}});
    }
    Answer(res, 200, Json{{"request_id", context.nextRequestId++}, {"result", result}});
}

// Answers the library itself made (unknown path, oversized body, unreadable request) get
// the service's JSON error form.
void HandleError(const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    switch (res.status) {
        case 404:
            return Fail(res, kNoSuchEndpoint);
        case 405:
            return Fail(res, kMethodNotAllowed);
        case 413:
            return Fail(res, kBodyTooLarge);
        case 400:
            return Fail(res, kMalformedRequest);
        default:
            break;
    }
    int status = res.status;
    Fail(res, kInternalError);
    res.status = status;
}

void NotAllowed(const httplib::Request&, httplib::Response& res) {
    res.set_header("Allow", "POST");
    Fail(res, kMethodNotAllowed);
}

}  // namespace

ServiceContext::ServiceContext(const Options& options, int workers)
    : clients(options.clients),
      tokens(std::chrono::seconds(options.tokenLifetime)),
      plates(options.plateModel, workers),
      plants(MakePlantClassifier()),
      decodeSlots(std::clamp(workers, 1, 64)) {}

// A POST without Content-Length and Transfer-Encoding has no body (RFC 9112 section 6.3),
// but the server library would wait for one until the connection ends: such requests are
// answered here, before any body is read.
bool HasNoBody(const httplib::Request& req) {
    return req.method == "POST" && !req.has_header("Content-Length") &&
           !req.has_header("Transfer-Encoding");
}

// Reads the body through the library's content reader: the library's own reading would
// refuse form bodies beyond a few kilobytes. Bodies beyond kMaxBody are refused.
bool ReadBody(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader, std::string& body) {
    // A multipart body is read and dropped; the endpoints then answer that the content
    // type is wrong.
    if (req.is_multipart_form_data()) {
        bool ok = reader([](const httplib::MultipartFormData&) { return true; },
                         [](const char*, size_t) { return true; });
        if (ok) return true;
        return Fail(res, res.status == 413 ? kBodyTooLarge : kMalformedRequest), false;
    }
    body.reserve(std::min<unsigned long long>(
        std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10), kMaxBody));
    // The library refuses (and skips) a body announced beyond the limit set with
    // set_payload_max_length, so that the client still reads the answer; the check here
    // covers chunked bodies.
    bool tooLarge = false;
    bool ok = reader([&](const char* data, size_t length) {
        tooLarge = body.size() + length > kMaxBody;
        if (!tooLarge) body.append(data, length);
        return !tooLarge;
    });
    if (ok) return true;
    if (tooLarge || res.status == 413) return Fail(res, kBodyTooLarge), false;
    return Fail(res, kMalformedRequest), false;
}

void InstallRoutes(httplib::Server& server, ServiceContext& context) {
    using Handler =
        void (*)(ServiceContext&, const httplib::Request&, const std::string&, httplib::Response&);
    static const std::pair<const char*, Handler> routes[] = {
        {kTokenPath, HandleToken}, {kPlatePath, HandlePlate}, {kPlantPath, HandlePlant}};
    server.set_payload_max_length(kMaxBody);
    for (const auto& [path, handler] : routes) {
        server.Post(
            path, [&context, handler = handler](const httplib::Request& req, httplib::Response& res,
                                                const httplib::ContentReader& reader) {
                std::string body;
                if (ReadBody(req, res, reader, body)) handler(context, req, body, res);
            });
        server.Get(path, NotAllowed);
        server.Put(path, NotAllowed);
        server.Delete(path, NotAllowed);
        server.Patch(path, NotAllowed);
    }
    AddPreRouting(server, [&context](const httplib::Request& req, httplib::Response& res) {
        if (!HasNoBody(req)) return false;
        for (const auto& [path, handler] : routes) {
            if (req.path == path) {
                handler(context, req, std::string(), res);
                return true;
            }
        }
        return false;
    });
    server.set_error_handler(HandleError);
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                    std::exception_ptr) { Fail(res, kInternalError); });
}

}  // namespace service
