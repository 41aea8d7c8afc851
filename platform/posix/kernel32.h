// kernel32 for the POSIX build: code-page conversion and the process heap.
#pragma once

#include "platform/posix/wintypes.h"

constexpr UINT CP_ACP = 0;  // the system's ANSI code page: 936 here
constexpr UINT CP_UTF8 = 65001;

// Windows calling protocol: cbMultiByte/cchWideChar -1 means NUL-terminated input (the NUL is
// converted and counted); an output size of 0 asks for the size needed; a too-small output gives
// 0 and ERROR_INSUFFICIENT_BUFFER. dwFlags must be 0.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// The process heap over the C allocator; flags must be 0.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
