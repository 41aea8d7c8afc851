// The allocator behind the process heap and the value types' buffers. Small blocks come from
// the C allocator. Large ones are mappings of their own, 2 MiB-aligned and marked for huge
// pages: the kernel then backs them with one fault per 2 MiB instead of one per 4 KiB page, and
// a large block grows by remapping its pages (mremap), never by copying them.
#include <sys/mman.h>

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/posix/kernel32.h"

namespace {

// Size of a huge page on x86-64 and arm64 with 4 KiB pages: large blocks are aligned to it.
constexpr std::size_t hugePage = std::size_t{2} << 20;
// Blocks from this size on are mappings of their own. Two huge pages at least, so that the
// partly used last huge page wastes at most a third of the block; below it the C allocator's
// arenas serve better.
constexpr std::size_t largeBlock = 2 * hugePage;

// No object may be larger; the rounding to huge pages below cannot overflow.
constexpr std::size_t maxLarge = PTRDIFF_MAX;

std::size_t RoundToHugePages(std::size_t bytes) {
    return (bytes + hugePage - 1) & ~(hugePage - 1);
}

bool HugeAligned(const void* p) {
    return (reinterpret_cast<std::uintptr_t>(p) & (hugePage - 1)) == 0;
}

// A large block: the length of its mapping and the size last asked for.
struct Large {
    std::size_t mapped = 0;  // 0: not a large block
    std::size_t size = 0;
};

// The large blocks. Only a huge-page-aligned address can be one, so frees of small blocks
// rarely look here.
class LargeBlocks {
  public:
    void Add(void* block, Large large) {
        std::lock_guard lock(mutex_);
        blocks_[block] = large;
    }
    Large Find(void* block) {
        if (!HugeAligned(block)) return {};
        std::lock_guard lock(mutex_);
        auto found = blocks_.find(block);
        return found == blocks_.end() ? Large{} : found->second;
    }
    void Remove(void* block) {
        std::lock_guard lock(mutex_);
        blocks_.erase(block);
    }

  private:
    std::mutex mutex_;
    std::unordered_map<void*, Large> blocks_;
};

LargeBlocks& Registry() {
    static LargeBlocks* registry = new LargeBlocks;  // lives to the end: frees may come late
    return *registry;
}

// A fresh mapping of `mapped` bytes (a multiple of hugePage) at a huge-page boundary, marked
// for huge pages; null when there is no room. Its pages read as zero until written.
void* MapAligned(std::size_t mapped) {
    if (mapped > SIZE_MAX - hugePage) return nullptr;
    const std::size_t span = mapped + hugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + hugePage - 1) & ~std::uintptr_t{hugePage - 1};
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + span;
    if (end > aligned + mapped)
        munmap(reinterpret_cast<void*>(aligned + mapped), end - aligned - mapped);
    void* block = reinterpret_cast<void*>(aligned);
    // Only advice: without transparent huge pages the block still works with small pages.
    madvise(block, mapped, MADV_HUGEPAGE);
    return block;
}

void* AllocateLarge(std::size_t bytes) {
    if (bytes > maxLarge) return nullptr;
    const std::size_t mapped = RoundToHugePages(bytes);
    void* block = MapAligned(mapped);
    if (block != nullptr) Registry().Add(block, {mapped, bytes});
    return block;
}

// Gives the large block room for `bytes` past its mapping, moving its pages to a new
// huge-page-aligned place when it cannot grow where it is. Growth past the mapping reserves
// twice the old length, so that a block grown in small steps is remapped only a few times;
// the reserve is address space only until written. Null, with the block as it was, on failure.
void* GrowLarge(void* block, std::size_t mapped, std::size_t bytes) {
    if (bytes > maxLarge) return nullptr;
    std::size_t wanted = RoundToHugePages(bytes);
    if (mapped <= SIZE_MAX / 2 && wanted < 2 * mapped) wanted = 2 * mapped;
    if (mremap(block, mapped, wanted, 0) != MAP_FAILED) {
        madvise(block, wanted, MADV_HUGEPAGE);
        Registry().Add(block, {wanted, bytes});
        return block;
    }
    void* target = MapAligned(wanted);
    if (target == nullptr) return nullptr;
    void* moved = mremap(block, mapped, wanted, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        munmap(target, wanted);
        return nullptr;
    }
    madvise(moved, wanted, MADV_HUGEPAGE);
    Registry().Remove(block);
    Registry().Add(moved, {wanted, bytes});
    return moved;
}

// A large block resized to `bytes`: grown within its mapping or by remapping it, shrunk by
// giving back the pages past the new size, or moved to the C allocator when it falls below
// largeBlock.
void* ResizeLarge(void* block, Large large, std::size_t bytes) {
    if (bytes < largeBlock) {
        void* small = std::malloc(bytes == 0 ? 1 : bytes);
        if (small == nullptr) return nullptr;
        std::memcpy(small, block, bytes);
        Registry().Remove(block);
        munmap(block, large.mapped);
        return small;
    }
    if (bytes > large.mapped) return GrowLarge(block, large.mapped, bytes);
    const std::size_t wanted = RoundToHugePages(bytes);
    if (bytes < large.size && wanted < large.mapped) {
        munmap(static_cast<char*>(block) + wanted, large.mapped - wanted);
        large.mapped = wanted;
    }
    Registry().Add(block, {large.mapped, bytes});
    return block;
}

// A small block of the C allocator resized to `bytes`, moved to a mapping of its own when it
// reaches largeBlock.
void* ResizeSmall(void* block, std::size_t bytes) {
    if (bytes < largeBlock) return std::realloc(block, bytes == 0 ? 1 : bytes);
    void* large = AllocateLarge(bytes);
    if (large == nullptr) return nullptr;
    // The old size is not kept; the usable size covers it (and is below bytes).
    const std::size_t usable = malloc_usable_size(block);
    std::memcpy(large, block, usable < bytes ? usable : bytes);
    std::free(block);
    return large;
}

}  // namespace

namespace platform {

void* AllocateBlock(std::size_t bytes, bool zeroed) {
    if (bytes >= largeBlock) return AllocateLarge(bytes);  // fresh mappings read as zero
    const std::size_t size = bytes == 0 ? 1 : bytes;
    return zeroed ? std::calloc(size, 1) : std::malloc(size);
}

void* ResizeBlock(void* block, std::size_t bytes) {
    if (block == nullptr) return AllocateBlock(bytes, false);
    const Large large = Registry().Find(block);
    return large.mapped != 0 ? ResizeLarge(block, large, bytes) : ResizeSmall(block, bytes);
}

void FreeBlock(void* block) {
    if (block == nullptr) return;
    const Large large = Registry().Find(block);
    if (large.mapped == 0) {
        std::free(block);
        return;
    }
    Registry().Remove(block);
    munmap(block, large.mapped);
}

}  // namespace platform
