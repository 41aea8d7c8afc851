// A test may replace one heap function at link time: this HeapReAlloc fails on request, while
// HeapAlloc and HeapFree still come from the platform library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/winapi.h"

namespace {
bool failReAlloc = false;
}

LPVOID HeapReAlloc(HANDLE, DWORD, LPVOID lpMem, SIZE_T dwBytes) {
    if (failReAlloc) return nullptr;
    return std::realloc(lpMem, dwBytes);
}

namespace {

TEST(HeapOverride, ReplacementWinsOverTheLibrary) {
    HANDLE heap = GetProcessHeap();
    auto* block = static_cast<char*>(HeapAlloc(heap, 0, 4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abc", 4);
    failReAlloc = true;
    EXPECT_EQ(HeapReAlloc(heap, 0, block, 64), nullptr);
    failReAlloc = false;
    auto* grown = static_cast<char*>(HeapReAlloc(heap, 0, block, 64));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "abc");
    EXPECT_TRUE(HeapFree(heap, 0, grown));
}

}  // namespace
