// memory.cpp: large blocks that are written once from start to end.
#include <sys/mman.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

const uintptr_t HUGE_PAGE_BYTES = 2u << 20;

}  // namespace

void AdviseHugePages(void* block, size_t bytes) {
    if (block == nullptr || bytes < 2 * HUGE_PAGE_BYTES) return;
    // Only whole huge pages inside the block; a refusal costs nothing.
    uintptr_t start = ((uintptr_t)block + HUGE_PAGE_BYTES - 1) & ~(HUGE_PAGE_BYTES - 1);
    uintptr_t end = ((uintptr_t)block + bytes) & ~(HUGE_PAGE_BYTES - 1);
    if (end > start) madvise((void*)start, end - start, MADV_HUGEPAGE);
}
