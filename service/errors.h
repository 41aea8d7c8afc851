// The error answers of the service: {"error_code": N, "error_msg": "..."} with a status.
#pragma once

namespace service {

struct ServiceError {
    int code;
    int status;
    const char* message;
};

// Protocol level.
inline constexpr ServiceError internalError{1, 500, "internal error"};
inline constexpr ServiceError malformedRequest{2, 400, "malformed request"};
inline constexpr ServiceError noSuchEndpoint{3, 404, "no such endpoint"};
inline constexpr ServiceError methodNotAllowed{4, 405, "method not allowed"};
inline constexpr ServiceError plateReaderUnavailable{5, 503, "plate reader not available"};
inline constexpr ServiceError headerTooLarge{6, 431, "request header over 16 KiB or 100 fields"};
inline constexpr ServiceError targetTooLong{7, 414, "request target over 8 KiB"};
inline constexpr ServiceError serviceBusy{8, 503, "recognition queue full, retry later"};
// Answered by the nginx front of replicas (deploy/nginx), never by the service itself.
inline constexpr ServiceError noReplica{9, 502, "no replica answered"};
inline constexpr ServiceError frontBusy{10, 503, "too many connections from one address"};
// Access token.
inline constexpr ServiceError tokenMissing{100, 401, "access token missing"};
inline constexpr ServiceError tokenUnknown{110, 401, "access token invalid"};
inline constexpr ServiceError tokenExpired{111, 401, "access token expired"};
// The request and its picture.
inline constexpr ServiceError wrongContentType{
    200, 400, "content type must be application/x-www-form-urlencoded"};
inline constexpr ServiceError imageMissing{201, 400, "image field missing"};
inline constexpr ServiceError imageEmpty{202, 400, "image is empty"};
inline constexpr ServiceError imageNotBase64{203, 400, "image is not valid base64"};
inline constexpr ServiceError bodyTooLarge{204, 413, "request body over 32 MiB"};
inline constexpr ServiceError imageFormat{205, 400, "image format not supported"};
inline constexpr ServiceError imageUndecodable{206, 400, "image truncated or undecodable"};
inline constexpr ServiceError imageSize{207, 400,
                                        "image size out of range (15 to 8192 pixels a side)"};
// Recognition.
inline constexpr ServiceError noPlate{300, 200, "no licence plate found"};
inline constexpr ServiceError noPlantModel{301, 501, "no plant model installed"};

}  // namespace service
