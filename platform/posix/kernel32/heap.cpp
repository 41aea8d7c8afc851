// The process heap over the C allocator. The four functions are weak definitions, so that a
// test can link a failure-injecting replacement of any one of them (a strong definition wins,
// even when this object is pulled in for the others).
#include <cstdint>
#include <cstdlib>

#include "platform/posix/kernel32.h"

namespace {

// The process heap's handle: only its address matters.
char processHeap;

// The C allocator gives no block larger than this; larger requests fail here without asking it.
constexpr SIZE_T kMaxBlock = PTRDIFF_MAX;

// The C allocator may give null for 0 bytes; the heap gives a unique block, as Windows does.
std::size_t BlockSize(SIZE_T bytes) {
    return bytes == 0 ? 1 : bytes;
}

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
    if (dwBytes > kMaxBlock) return OutOfMemory();
    void* block = std::malloc(BlockSize(dwBytes));
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
    if (dwBytes > kMaxBlock) return OutOfMemory();
    void* block = std::realloc(lpMem, BlockSize(dwBytes));
    return block != nullptr ? block : OutOfMemory();
}

// Freeing null succeeds, as on Windows.
__attribute__((weak)) BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    if (!ValidCall(hHeap, dwFlags)) return FALSE;
    std::free(lpMem);
    return TRUE;
}
