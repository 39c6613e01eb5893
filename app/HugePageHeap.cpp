#include "app/HugePageHeap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

bool qz::ReserveHugePageHeap() {
    mallopt(M_ARENA_MAX, 1);  // fixed by the first thread that allocates
    // Kept as the heap's top once freed, and large blocks served from it.
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHugePageHeapReserve));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * kHugePageHeapReserve));
    const auto brkBefore = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* pReserve = std::malloc(kHugePageHeapReserve);
    const auto brkAfter = reinterpret_cast<std::uintptr_t>(sbrk(0));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHugePageHeapLargestBlock));
    const auto block = reinterpret_cast<std::uintptr_t>(pReserve);
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = block & ~(page - 1);
    // Only a block that grew the program break is the heap's top; anything else
    // (another allocator, a mapping) is not ours to advise.
    const std::uintptr_t end = block + kHugePageHeapReserve;
    const bool bHeapTop = pReserve && brkAfter > brkBefore && end > brkBefore && end <= brkAfter;
    const bool bAdvised = bHeapTop && madvise(reinterpret_cast<void*>(start), brkAfter - start, MADV_HUGEPAGE) == 0;
    std::free(pReserve);
    return bAdvised;
}
