// The tool's three settings: the service host and the two keys of the token request. Each comes
// from its environment variable when that is set and not empty, else from the built-in value.
#pragma once

#include "text/text.h"

// RECOGNIZER_HOST: host, optionally with ":port"; default the local service, 127.0.0.1:8443.
Text ServiceHost();
// RECOGNIZER_API_KEY: client_id of the token request.
Text ApiKey();
// RECOGNIZER_SECRET_KEY: client_secret of the token request.
Text SecretKey();
