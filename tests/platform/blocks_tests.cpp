// The process heap's large blocks (4 MiB and more): mappings of their own on huge pages, grown
// by remapping. Blocks move between the two kinds as they cross that size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/winapi.h"

namespace {

constexpr SIZE_T MiB = 1048576;
// Far beyond any address space a process gets, yet below the largest size the heap accepts.
constexpr SIZE_T unmappable = SIZE_T{1} << 50;

unsigned char Pattern(SIZE_T i) {
    return static_cast<unsigned char>((i * 7 + i / 4096) & 0xFF);
}

void Fill(unsigned char* block, SIZE_T from, SIZE_T to) {
    for (SIZE_T i = from; i < to; ++i)
        block[i] = Pattern(i);
}

// The first index below `size` that does not hold the pattern, or size.
SIZE_T FirstDifference(const unsigned char* block, SIZE_T size) {
    for (SIZE_T i = 0; i < size; ++i)
        if (block[i] != Pattern(i)) return i;
    return size;
}

TEST(HeapLargeBlocks, ReAllocKeepsContentsAcrossTheThreshold) {
    HANDLE heap = GetProcessHeap();
    SIZE_T size = 1000;
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
    ASSERT_NE(block, nullptr);
    Fill(block, 0, size);
    // Small to large, growth within and past the mapping, shrink within the large kind, back
    // to small, and large again.
    const SIZE_T sizes[] = {4 * MiB - 1,      4 * MiB,          5 * MiB + 3, 9 * MiB,
                            64 * MiB + 10240, 64 * MiB + 20480, 6 * MiB,     4 * MiB,
                            4 * MiB - 1,      100000,           12 * MiB};
    for (SIZE_T next : sizes) {
        auto* resized = static_cast<unsigned char*>(HeapReAlloc(heap, 0, block, next));
        ASSERT_NE(resized, nullptr) << next;
        block = resized;
        const SIZE_T kept = std::min(size, next);
        ASSERT_EQ(FirstDifference(block, kept), kept) << "resized from " << size << " to " << next;
        Fill(block, kept, next);
        size = next;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
}

TEST(HeapLargeBlocks, FreesBothKinds) {
    HANDLE heap = GetProcessHeap();
    const SIZE_T sizes[] = {0, 1, 4 * MiB - 1, 4 * MiB, 32 * MiB + 1};
    for (SIZE_T size : sizes) {
        auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
        ASSERT_NE(block, nullptr) << size;
        if (size > 0) {
            block[0] = 1;
            block[size - 1] = 2;
        }
        EXPECT_TRUE(HeapFree(heap, 0, block)) << size;
    }
}

TEST(HeapLargeBlocks, FailedReAllocLeavesTheBlock) {
    HANDLE heap = GetProcessHeap();
    const SIZE_T sizes[] = {100, 8 * MiB};  // a small block and a large one
    for (SIZE_T size : sizes) {
        auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
        ASSERT_NE(block, nullptr) << size;
        Fill(block, 0, size);
        SetLastError(0);
        EXPECT_EQ(HeapReAlloc(heap, 0, block, unmappable), nullptr) << size;
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY) << size;
        EXPECT_EQ(FirstDifference(block, size), size) << size;
        // Still a block of the heap: it grows and frees as before.
        auto* grown = static_cast<unsigned char*>(HeapReAlloc(heap, 0, block, size + 4 * MiB));
        ASSERT_NE(grown, nullptr) << size;
        EXPECT_EQ(FirstDifference(grown, size), size) << size;
        EXPECT_TRUE(HeapFree(heap, 0, grown)) << size;
    }
    EXPECT_EQ(HeapAlloc(heap, 0, unmappable), nullptr);
}

TEST(HeapLargeBlocks, ZeroedLargeBlockReadsZero) {
    const SIZE_T size = 6 * MiB;
    auto* block = static_cast<unsigned char*>(platform::AllocateBlock(size, true));
    ASSERT_NE(block, nullptr);
    SIZE_T nonZero = 0;
    for (SIZE_T i = 0; i < size; ++i)
        nonZero += block[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    platform::FreeBlock(block);
}

// The mapping's entry in /proc/self/smaps says whether the kernel may give it huge pages.
std::string HugePageEligibility(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2 && line.find(' ') > 8 &&
            line.find('-') < line.find(' ')) {
            inside = start <= target && target < end;
            continue;
        }
        if (inside && line.rfind("THPeligible:", 0) == 0) return line;
    }
    return "";
}

TEST(HeapLargeBlocks, LargeBlocksMayHaveHugePages) {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(mode, modes);
    if (modes.empty() || modes.find("[never]") != std::string::npos) {
        GTEST_SKIP() << "no transparent huge pages here";
    }
    HANDLE heap = GetProcessHeap();
    void* block = HeapAlloc(heap, 0, 16 * MiB);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2 * MiB), 0u);
    const std::string eligible = HugePageEligibility(block);
    EXPECT_NE(eligible.find('1'), std::string::npos) << eligible;
    void* grown = HeapReAlloc(heap, 0, block, 100 * MiB);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(grown) % (2 * MiB), 0u);
    EXPECT_NE(HugePageEligibility(grown).find('1'), std::string::npos);
    EXPECT_TRUE(HeapFree(heap, 0, grown));
}

}  // namespace
