// kernel32 for the POSIX build: code-page conversion and the process heap.
#pragma once

#include "platform/posix/wintypes.h"

constexpr UINT CP_ACP = 0;  // the system's ANSI code page: 936 here
constexpr UINT CP_UTF8 = 65001;

// Windows calling protocol: cbMultiByte/cchWideChar -1 means NUL-terminated input (the NUL is
// converted and counted); an output size of 0 asks for the size needed; a too-small output gives
// 0 and ERROR_INSUFFICIENT_BUFFER and is left as it was. A null input, an input length of 0 or
// below -1, a negative output size, an output size without output, input and output at one
// address, or a code page other than CP_ACP, 936 and CP_UTF8 give 0 and ERROR_INVALID_PARAMETER;
// dwFlags other than 0 give 0 and ERROR_INVALID_FLAGS. A success leaves the last error alone.
//
// Code page 936 is Windows': GBK with 0x80 as the euro sign U+20AC, the single byte 0xFF as
// U+F8F5, and GBK's user-defined areas (AAA1-AFFE, F8A1-FEFE, A140-A7A0) on U+E000-U+E765.
// Invalid input becomes U+FFFD: a lead byte (0x81-0xFE) at the end or before a byte that cannot
// be a trail byte (0x40-0x7E, 0x80-0xFE) gives one U+FFFD and the next byte is read afresh; a
// lead and trail pair with no character gives one U+FFFD for both bytes. Invalid UTF-8 gives one
// U+FFFD per maximal invalid subpart (Unicode's recommended practice, as Windows does).
// Towards code page 936, each UTF-16 unit with no character there becomes lpDefaultChar's
// first character, or "?" (a surrogate pair so becomes "??", as on Windows); towards UTF-8 an
// unpaired surrogate becomes U+FFFD, and lpDefaultChar and lpUsedDefaultChar must be null.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// The process heap; flags must be 0.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

// The allocator behind the process heap, for the value types' buffers: reached directly, so
// that a test replacing the heap functions sees only its own callers' blocks. Blocks of 4 MiB
// and more lie on huge pages and grow without copying. A 0-byte request gives a unique block;
// failures give null and leave a resized block as it was; freeing null does nothing.
namespace platform {
void* AllocateBlock(SIZE_T bytes, bool zeroed);
void* ResizeBlock(void* block, SIZE_T bytes);
void FreeBlock(void* block);
}  // namespace platform
