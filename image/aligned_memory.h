#pragma once
// The host's memory service: 16-byte-aligned buffers, and an allocator that
// gives large vectors (image planes, sample lists, file buffers) the same.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

// A 16-byte-aligned buffer of `bytes` (rounded up to a multiple of 16),
// released with std::free, or null. Buffers of a few megabytes and more are
// placed on 2 MiB boundaries and offered huge pages: a frame touches hundreds
// of megabytes once, and with 4 KiB pages every one of them costs a fault;
// the splat also walks streaks down many rows at once, each row a TLB entry.
void* AllocateAligned(size_t bytes);

// A block of `bytes` zeros, aligned as AllocateAligned aligns. Large blocks
// come straight from the system, whose fresh pages are zeros already: a
// block is not written twice (once by the system, once more by memset)
// before its first use. Released when replaced or destroyed.
class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  ~ZeroedBlock() { Release(); }
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;
  // Replaces the block with a new one of `bytes` zeros; throws
  // std::bad_alloc (leaving none) when there is no room.
  void Reset(size_t bytes);
  void* get() const { return p_; }

 private:
  void Release();
  void* p_ = nullptr;
  size_t mapped_ = 0;  // bytes mapped from the system, or 0 for the heap
};

template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    void* p = AllocateAligned(n * sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { std::free(p); }
  template <class U>
  bool operator==(const LargeAllocator<U>&) const { return true; }
  template <class U>
  bool operator!=(const LargeAllocator<U>&) const { return false; }
};

template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;
