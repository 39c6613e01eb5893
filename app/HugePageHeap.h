#pragma once
// The window's first frame touches a few megabytes of fresh heap: its widgets, its
// pictures, its backing store, and the fontconfig parse and picture decoding of the
// start-up helpers. In a virtual machine each first touch of a 4 KiB page costs 10-20 µs,
// several milliseconds of the start-up in all; a transparent huge page costs about the
// same for 2 MiB. Called first thing at load time (a .preinit_array entry, before any
// thread), this
// - keeps every thread on the one heap (the helpers' own arenas would be fresh pages
//   again; the program's threads allocate little, so they hardly contend for it);
// - grows the heap's top by a reserve that the kernel may back with huge pages, from the
//   first huge-page boundary on, where the next blocks then come from;
// - serves blocks up to a backing store's size from the heap.
// Where malloc is not the C library's own (sanitizers) or the kernel has no huge pages,
// nothing changes.
#include <cstddef>

namespace qz {

constexpr std::size_t kHugePageHeapReserve = std::size_t{8} << 20;
// Blocks below this come from the heap, not from a mapping of their own.
constexpr std::size_t kHugePageHeapLargestBlock = std::size_t{4} << 20;

// True when the reserve was taken and advised.
bool ReserveHugePageHeap();

}  // namespace qz
