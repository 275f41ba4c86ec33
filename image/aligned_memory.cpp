#include "image/aligned_memory.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void* AllocateAligned(size_t bytes) {
  constexpr size_t kHuge = size_t(2) << 20;
  if (bytes > SIZE_MAX - kHuge) return nullptr;  // rounding up would overflow
  const size_t size = bytes > 0 ? (bytes + 15) / 16 * 16 : 16;
  if (size < kHuge) return std::aligned_alloc(16, size);
  const size_t rounded = (size + kHuge - 1) / kHuge * kHuge;
  void* p = std::aligned_alloc(kHuge, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (p) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: failure only costs speed
#endif
  return p;
}
