#include "image/aligned_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

bool AllZero(const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Small blocks come from the heap, large ones from the system; either way a
// block is zeros from first to last byte, writable to its end, and zeros
// again after a reset, even where the block it replaces was written.
TEST(ZeroedBlock, IsZerosToItsEndAndAgainAfterEveryReset) {
  for (size_t bytes : {size_t(1000), (size_t(5) << 20) + 12345, size_t(2) << 20}) {
    SCOPED_TRACE(bytes);
    ZeroedBlock block;
    for (int round = 0; round < 2; ++round) {
      block.Reset(bytes);
      auto* p = static_cast<unsigned char*>(block.get());
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
      if (bytes >= (size_t(2) << 20)) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
      }
      EXPECT_TRUE(AllZero(p, bytes));
      std::memset(p, 0xab, bytes);
    }
  }
}

}  // namespace
