// The process heap and the per-thread last error.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/winapi.h"

namespace {

TEST(Heap, ReAllocKeepsContentsWhenGrowingAndShrinking) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, 16));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i)
        block[i] = static_cast<unsigned char>(i + 1);
    const SIZE_T sizes[] = {1 << 20, 100000, 17, 8, 0, 32};
    SIZE_T kept = 16;
    for (SIZE_T size : sizes) {
        auto* grown = static_cast<unsigned char*>(HeapReAlloc(heap, 0, block, size));
        ASSERT_NE(grown, nullptr) << size;
        block = grown;
        kept = std::min(kept, size);
        for (SIZE_T i = 0; i < kept; ++i)
            ASSERT_EQ(block[i], i + 1) << "size " << size;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
}

TEST(Heap, ReAllocThatCannotGrowLeavesTheBlock) {
    HANDLE heap = GetProcessHeap();
    auto* block = static_cast<char*>(HeapAlloc(heap, 0, 4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abc", 4);
    const SIZE_T sizes[] = {SIZE_MAX, SIZE_MAX / 2 + 1};
    for (SIZE_T size : sizes) {
        SetLastError(0);
        EXPECT_EQ(HeapReAlloc(heap, 0, block, size), nullptr) << size;
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY) << size;
        EXPECT_STREQ(block, "abc") << size;
        EXPECT_EQ(HeapAlloc(heap, 0, size), nullptr) << size;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
}

TEST(Heap, ZeroBytesGiveABlockAndNullFreesFine) {
    HANDLE heap = GetProcessHeap();
    void* block = HeapAlloc(heap, 0, 0);
    EXPECT_NE(block, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

TEST(Heap, RejectsOtherHeapsAndFlags) {
    int notAHeap = 0;
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(&notAHeap, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0x8, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HeapReAlloc(GetProcessHeap(), 0, nullptr, 8), nullptr);
    EXPECT_FALSE(HeapFree(nullptr, 0, nullptr));
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(ERROR_INVALID_PARAMETER);
    DWORD seenBefore = 1, seenAfter = 1;
    std::thread other([&] {
        seenBefore = GetLastError();
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        seenAfter = GetLastError();
    });
    other.join();
    EXPECT_EQ(seenBefore, ERROR_SUCCESS);
    EXPECT_EQ(seenAfter, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
