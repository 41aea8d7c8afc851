// The slice of the Windows API the rest of the system calls. On Windows the system headers
// declare it and the system libraries do the work; elsewhere platform/posix/ declares and
// implements the same functions, types and constants.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
// wininet.h clashes with winhttp.h; the two cookie functions are declared here instead.
extern "C" {
__declspec(dllimport) BOOL WINAPI InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName,
                                                     LPCSTR lpszCookieData);
__declspec(dllimport) BOOL WINAPI InternetGetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName,
                                                     LPSTR lpszCookieData, LPDWORD lpdwSize);
}
// The value types' buffers come from the process heap.
namespace platform {
inline void* AllocateBlock(SIZE_T bytes, bool zeroed) {
    return HeapAlloc(GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, bytes);
}
inline void* ResizeBlock(void* block, SIZE_T bytes) {
    return block ? HeapReAlloc(GetProcessHeap(), 0, block, bytes) : AllocateBlock(bytes, false);
}
inline void FreeBlock(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}
}  // namespace platform
#else
#include "platform/posix/wintypes.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/crypt32.h"
#include "platform/posix/winhttp.h"
#include "platform/posix/wininet.h"
#endif
