// The colour and weight adds of a footprint row with 256-bit vectors: four
// weights at a time, two colour pixels per fused multiply-add.
#include <immintrin.h>

#include "motion/splat.h"

namespace splat {

__attribute__((target("avx2,fma"))) void AddRunAvx2(tessaly_image::color_rgba_f* color, float* norm,
                                                    const float* kern, int32_t n, float t, __m128 col) {
  const __m256 col2 = _mm256_insertf128_ps(_mm256_castps128_ps256(col), col, 1);
  const __m128 tt = _mm_set1_ps(t);
  const __m256i first = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const __m256i second = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m128 v = _mm_mul_ps(tt, _mm_loadu_ps(kern + j));
    _mm_storeu_ps(norm + j, _mm_add_ps(_mm_loadu_ps(norm + j), v));
    const __m256 v8 = _mm256_castps128_ps256(v);
    float* c = &color[j].r;
    _mm256_storeu_ps(c, _mm256_fmadd_ps(_mm256_permutevar8x32_ps(v8, first), col2, _mm256_loadu_ps(c)));
    _mm256_storeu_ps(c + 8, _mm256_fmadd_ps(_mm256_permutevar8x32_ps(v8, second), col2, _mm256_loadu_ps(c + 8)));
  }
  if (j < n) AddRunSse(color + j, norm + j, kern + j, n - j, t, col);
}

AddRunFn BestAddRun() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return AddRunAvx2;
  return AddRunSse;
}

}  // namespace splat
