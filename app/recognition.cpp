#include "app/recognition.h"

#include "app/configuration.h"
#include "app/globals.h"

namespace {

constexpr const char* kScheme = "https://";
constexpr const char* kTokenPath = "/oauth/2.0/token?grant_type=client_credentials&client_id=";
constexpr const char* kSecretParameter = "&client_secret=";
constexpr const char* kPlantPath = "/rest/2.0/image-classify/v1/plant?access_token=";
constexpr const char* kPlatePath = "/rest/2.0/ocr/v1/license_plate?access_token=";
constexpr const char* kMethod = "POST";
constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
constexpr const char* kBodyPrefix = "image=";
// The token is cut out of the JSON answer between these markers, without parsing it.
constexpr const char* kTokenStart = "\"access_token\":\"";
constexpr const char* kTokenEnd = "\",\"";

}  // namespace

Text PlantPath() {
    return Text(kPlantPath);
}

Text PlatePath() {
    return Text(kPlatePath);
}

void FetchAccessToken() {
    session->Reset();
    // The token request carries the client secret in its URL: check the server's certificate,
    // whatever override a fresh session arms for its first request.
    session->SetIgnoreCertErrors(0);
    const Text url = ConcatText(Text(kScheme), ServiceHost(), Text(kTokenPath), ApiKey(),
                                Text(kSecretParameter), SecretKey());
    session->Open(Text(kMethod), url);
    session->Send();
    const Text answer = session->GetResponseText();
    accessToken = TextBetween(answer, Text(kTokenStart), Text(kTokenEnd));
}

Text PostPicture(const Text& servicePath) {
    const Text url = ConcatText(Text(kScheme), ServiceHost(), servicePath, accessToken);
    session->Open(Text(kMethod), url);
    session->SetContentType(Text(kFormContentType));
    {
        const Text body = ConcatText(Text(kBodyPrefix), encodedPicture);
        session->Send(body);
    }
    return session->GetResponseText();
}
