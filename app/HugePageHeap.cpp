#include "app/HugePageHeap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

}  // namespace

bool qz::ReserveHugePageHeap() {
    mallopt(M_ARENA_MAX, 1);  // fixed by the first thread that allocates
    // Kept as the heap's top once freed, and large blocks served from it.
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHugePageHeapReserve));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * kHugePageHeapReserve));
    const auto brkBefore = reinterpret_cast<std::uintptr_t>(sbrk(0));
    auto* pBlock = static_cast<char*>(std::malloc(kHugePageHeapReserve + kHugePage));
    const auto brkAfter = reinterpret_cast<std::uintptr_t>(sbrk(0));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHugePageHeapLargestBlock));
    if (!pBlock) return false;
    const auto block = reinterpret_cast<std::uintptr_t>(pBlock);
    const std::uintptr_t end = block + kHugePageHeapReserve + kHugePage;
    // Only a block that grew the program break is the heap's top; anything else
    // (another allocator, a mapping) is not ours to advise.
    if (brkAfter <= brkBefore || end <= brkBefore || end > brkAfter) {
        std::free(pBlock);
        return false;
    }
    // Only whole, aligned huge pages can be huge: the block keeps what lies before the
    // first boundary (never touched, so it costs no memory), and the heap's top, where
    // the next blocks come from, begins there.
    const std::uintptr_t boundary = (block + 64 + kHugePage - 1) & ~(kHugePage - 1);
    const bool bAdvised = madvise(reinterpret_cast<void*>(boundary), brkAfter - boundary, MADV_HUGEPAGE) == 0;
    void* pKept = std::realloc(pBlock, boundary - block - 32);
    (void)pKept;  // shrunk in place: the same block
    return bAdvised;
}
