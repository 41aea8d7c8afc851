// The tool's conversation with the recognition service, over the global session.
#pragma once

#include "text/text.h"

// Fetches a token with the client-credentials grant and stores it in accessToken (empty when
// the service gives none).
void FetchAccessToken();

// Posts "image=" + encodedPicture to the service path (plant or plate) with the token and gives
// the answer as text; empty when no answer came.
Text PostPicture(const Text& servicePath);

// The service paths, each ending with "access_token=".
Text PlantPath();
Text PlatePath();
