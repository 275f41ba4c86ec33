#pragma once
// Reduction of a plane by area averaging: each output pixel is the mean of
// the source area it covers (source pixels cut by its edges count by the
// part they cover). A user's kernel image far larger than any kernel the
// frame needs is reduced this way first, so that every later resize starts
// from a small picture.
#include <cstdint>

namespace dof {

// `dst` (dw x dh) from `src` (sw x sh), both row-major; dw <= sw, dh <= sh.
void AreaAverage(const float* src, int32_t sw, int32_t sh, float* dst, int32_t dw, int32_t dh);

// The most a kernel image's side may be, for a frame whose largest kernel
// has side `largest_side`, before it is reduced.
inline int32_t KernelImageLimit(int32_t largest_side) { return 4 * largest_side; }

}  // namespace dof
