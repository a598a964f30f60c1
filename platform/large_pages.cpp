#include "platform.h"

#include <sys/mman.h>

#include <cstdint>

// The size of the kernel's large pages on x86-64 and most 64-bit machines.
constexpr uintptr_t LARGE_PAGE_BYTES = uintptr_t{2} << 20;

void plat_advise_large_write(void* buffer, size_t len)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
    const uintptr_t first = (start + LARGE_PAGE_BYTES - 1) & ~(LARGE_PAGE_BYTES - 1);
    const uintptr_t last = (start + len) & ~(LARGE_PAGE_BYTES - 1);
    // Advice only: a kernel without large pages, or a buffer too small to
    // hold one, is left as it is.
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
