#include "stitch/page_memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace Korvo {

#if defined(__linux__)
// Linux 5.14 and later; older kernels refuse it, and the pages fault in as before.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

void MapPagesNow(void* data, size_t bytes) {
    constexpr uintptr_t kPage = 4096;
    // Below a few pages the call costs about what it saves.
    if (bytes < 8 * kPage) return;
    const auto start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (start + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (start + bytes) & ~(kPage - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}
#else
void MapPagesNow(void*, size_t) {}
#endif

}  // namespace Korvo
