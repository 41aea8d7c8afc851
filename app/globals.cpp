#include "app/globals.h"

std::unique_ptr<HttpSession> session;
Text accessToken;
Text encodedPicture;

void CreateSession() {
    session = std::make_unique<HttpSession>();
}

void ReleaseGlobals() {
    session.reset();
    accessToken = Text();
    encodedPicture = Text();
}
