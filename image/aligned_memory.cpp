#include "image/aligned_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

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

void ZeroedBlock::Reset(size_t bytes) {
  Release();
  constexpr size_t kHuge = size_t(2) << 20;
  // (Under AddressSanitizer from the heap, where overruns show.)
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
  if (bytes >= kHuge && bytes <= SIZE_MAX / 2 - kHuge) {
    // One huge page more than needed, cut back to a 2 MiB boundary.
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* raw = mmap(nullptr, rounded + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + rounded + kHuge;
    if (end > aligned + rounded) munmap(reinterpret_cast<void*>(aligned + rounded), end - (aligned + rounded));
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);  // a hint, as above
#endif
    p_ = reinterpret_cast<void*>(aligned);
    mapped_ = rounded;
    return;
  }
#endif
  p_ = AllocateAligned(bytes);
  if (!p_) throw std::bad_alloc();
  std::memset(p_, 0, bytes);
}

void ZeroedBlock::Release() {
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
  if (mapped_) munmap(p_, mapped_);
#endif
  if (!mapped_) std::free(p_);
  p_ = nullptr;
  mapped_ = 0;
}
