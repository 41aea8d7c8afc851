// crypt32 for the POSIX build: binary to Base64 text.
#pragma once

#include "platform/posix/wintypes.h"

constexpr DWORD CRYPT_STRING_BASE64 = 0x00000001;
constexpr DWORD CRYPT_STRING_NOCRLF = 0x40000000;

// dwFlags CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF: Base64 on one line; CRYPT_STRING_BASE64:
// lines of 64 characters, each (the last included) ending with CR LF. pszString NULL:
// *pcchString receives the size needed, terminating zero included. Otherwise writes the text and
// its zero; *pcchString receives the length without the zero. A buffer smaller than the size
// needed gives FALSE and ERROR_MORE_DATA, with the size needed in *pcchString. Other flags, a
// null pcchString, no data with a nonzero cbBinary, or an output over a DWORD's range give FALSE
// and ERROR_INVALID_PARAMETER. No bytes give an empty text.
BOOL CryptBinaryToStringA(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPSTR pszString,
                          DWORD* pcchString);
