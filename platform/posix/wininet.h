// WinINet's system cookie store for the POSIX build: one store for the whole process.
#pragma once

#include "platform/posix/wintypes.h"

BOOL InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPCSTR lpszCookieData);
BOOL InternetGetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPSTR lpszCookieData,
                        LPDWORD lpdwSize);
