// crypt32 for the POSIX build: binary to Base64 text.
#pragma once

#include "platform/posix/wintypes.h"

constexpr DWORD CRYPT_STRING_BASE64 = 0x00000001;
constexpr DWORD CRYPT_STRING_NOCRLF = 0x40000000;

// pszString NULL: *pcchString receives the size needed, terminating zero included. Otherwise
// writes the text and its zero; *pcchString receives the length without the zero.
BOOL CryptBinaryToStringA(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPSTR pszString,
                          DWORD* pcchString);
