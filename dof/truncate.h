#pragma once
#include <cstdint>
#include <limits>

// Truncation toward zero to int32; a value that does not fit, or is not a
// number, becomes the most negative int32 (as the processor's conversion does).
inline int32_t TruncToInt32(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}
