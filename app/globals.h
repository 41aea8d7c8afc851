// The tool's globals, alive for the whole run, and the routines that create and release them.
// (`processHeap` is declared with HttpSession.)
#pragma once

#include <memory>

#include "http/session.h"
#include "text/text.h"

// The one HTTP client object; made by CreateSession, destroyed by ReleaseGlobals.
extern std::unique_ptr<HttpSession> session;
// The service's access token; empty until the token fetch.
extern Text accessToken;
// The loaded picture, Base64- then percent-encoded; empty until the first load.
extern Text encodedPicture;

void CreateSession();
// The exit clean-up: destroys the session, then releases the token and the picture.
void ReleaseGlobals();
