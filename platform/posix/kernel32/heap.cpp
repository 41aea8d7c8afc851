// The process heap over the platform's block allocator (blocks.cpp): small blocks from the C
// allocator, large ones on huge pages. The four functions are weak definitions, so that a test
// can link a failure-injecting replacement of any one of them (a strong definition wins, even
// when this object is pulled in for the others); a replacement may treat small blocks as the C
// allocator's.
#include <cstdint>

#include "platform/posix/kernel32.h"

namespace {

// The process heap's handle: only its address matters.
char processHeap;

// No object may be larger than this; larger requests fail here without asking for memory.
constexpr SIZE_T maxBlock = PTRDIFF_MAX;

LPVOID OutOfMemory() {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

bool ValidCall(HANDLE hHeap, DWORD dwFlags) {
    if (hHeap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (dwFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

__attribute__((weak)) HANDLE GetProcessHeap() {
    return &processHeap;
}

__attribute__((weak)) LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (!ValidCall(hHeap, dwFlags)) return nullptr;
    if (dwBytes > maxBlock) return OutOfMemory();
    void* block = platform::AllocateBlock(dwBytes, false);
    return block != nullptr ? block : OutOfMemory();
}

// Keeps the contents up to the smaller size; on failure returns null and leaves the block as
// it was.
__attribute__((weak)) LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem,
                                         SIZE_T dwBytes) {
    if (!ValidCall(hHeap, dwFlags)) return nullptr;
    if (lpMem == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwBytes > maxBlock) return OutOfMemory();
    void* block = platform::ResizeBlock(lpMem, dwBytes);
    return block != nullptr ? block : OutOfMemory();
}

// Freeing null succeeds, as on Windows.
__attribute__((weak)) BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    if (!ValidCall(hHeap, dwFlags)) return FALSE;
    platform::FreeBlock(lpMem);
    return TRUE;
}
