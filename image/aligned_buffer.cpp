#include "image/aligned_buffer.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessaly_image {

void* AllocateAligned(size_t bytes) {
  constexpr size_t kHuge = size_t(2) << 20;
  size_t size = bytes > 0 ? (bytes + 15) / 16 * 16 : 16;
  if (size < size - 1 || size < bytes) return nullptr;  // rounding overflowed
  if (size < 2 * kHuge) return std::aligned_alloc(16, size);
  const size_t rounded = (size + kHuge - 1) / kHuge * kHuge;
  if (rounded < size) return nullptr;
  void* p = std::aligned_alloc(kHuge, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (p) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: failure only costs speed
#endif
  return p;
}

}  // namespace tessaly_image
