#include "app/recognition.h"

#include "app/configuration.h"
#include "app/globals.h"

namespace {

constexpr const char* serviceScheme = "https://";
constexpr const char* tokenPath = "/oauth/2.0/token?grant_type=client_credentials&client_id=";
constexpr const char* secretParameter = "&client_secret=";
constexpr const char* plantPath = "/rest/2.0/image-classify/v1/plant?access_token=";
constexpr const char* platePath = "/rest/2.0/ocr/v1/license_plate?access_token=";
constexpr const char* requestMethod = "POST";
constexpr const char* formContentType = "application/x-www-form-urlencoded";
constexpr const char* bodyPrefix = "image=";
// The token is cut out of the JSON answer between these markers, without parsing it.
constexpr const char* tokenStart = "\"access_token\":\"";
constexpr const char* tokenEnd = "\",\"";

}  // namespace

Text PlantPath() {
    return Text(plantPath);
}

Text PlatePath() {
    return Text(platePath);
}

void FetchAccessToken() {
    session->Reset();
    // The token request carries the client secret in its URL: check the server's certificate,
    // whatever override a fresh session arms for its first request.
    session->SetIgnoreCertErrors(0);
    const Text url = ConcatText(Text(serviceScheme), ServiceHost(), Text(tokenPath), ApiKey(),
                                Text(secretParameter), SecretKey());
    session->Open(Text(requestMethod), url);
    session->Send();
    const Text answer = session->GetResponseText();
    accessToken = TextBetween(answer, Text(tokenStart), Text(tokenEnd));
}

Text PostPicture(const Text& servicePath) {
    const Text url = ConcatText(Text(serviceScheme), ServiceHost(), servicePath, accessToken);
    session->Open(Text(requestMethod), url);
    session->SetContentType(Text(formContentType));
    {
        const Text body = ConcatText(Text(bodyPrefix), encodedPicture);
        session->Send(body);
    }
    return session->GetResponseText();
}
