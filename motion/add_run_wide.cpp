// The colour and weight adds of a footprint row with 256-bit vectors: four
// weights at a time, two colour pixels per fused multiply-add.
#include <immintrin.h>

#include <algorithm>

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

// Four colour pixels per fused multiply-add. (GCC 12's 512-bit intrinsics
// start from an undefined vector and warn about it; the lanes are all set.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f"))) void AddRunAvx512(tessaly_image::color_rgba_f* color, float* norm,
                                                     const float* kern, int32_t n, float t, __m128 col) {
  const __m512 col1 = _mm512_zextps128_ps512(col);
  const __m512 col4 = _mm512_shuffle_f32x4(col1, col1, 0);
  const __m128 tt = _mm_set1_ps(t);
  const __m512i spread = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m128 v = _mm_mul_ps(tt, _mm_loadu_ps(kern + j));
    _mm_storeu_ps(norm + j, _mm_add_ps(_mm_loadu_ps(norm + j), v));
    float* c = &color[j].r;
    const __m512 v16 = _mm512_permutexvar_ps(spread, _mm512_zextps128_ps512(v));
    _mm512_storeu_ps(c, _mm512_fmadd_ps(v16, col4, _mm512_loadu_ps(c)));
  }
  if (j < n) AddRunSse(color + j, norm + j, kern + j, n - j, t, col);
}

// A block of rows: eight taps per step, weights as one 256-bit add.
__attribute__((target("avx512f,avx2"))) void AddBlockAvx512(const Block& b) {
  const __m512 col1 = _mm512_zextps128_ps512(b.col);
  const __m512 col4 = _mm512_shuffle_f32x4(col1, col1, 0);
  const __m256 tt = _mm256_set1_ps(b.weight);
  const __m512i lo = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  const __m512i hi = _mm512_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
  for (int32_t r = 0; r < b.rows; ++r) {
    auto* color = reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(b.color) +
                                                                 ptrdiff_t(r) * b.color_stride);
    float* norm = reinterpret_cast<float*>(reinterpret_cast<char*>(b.norm) + ptrdiff_t(r) * b.norm_stride);
    const float* kern = b.kern + ptrdiff_t(r) * b.kern_stride;
    int32_t j = 0;
    for (; j + 8 <= b.n; j += 8) {
      const __m256 v = _mm256_mul_ps(tt, _mm256_loadu_ps(kern + j));
      _mm256_storeu_ps(norm + j, _mm256_add_ps(_mm256_loadu_ps(norm + j), v));
      const __m512 v16 = _mm512_zextps256_ps512(v);
      float* c = &color[j].r;
      _mm512_storeu_ps(c, _mm512_fmadd_ps(_mm512_permutexvar_ps(lo, v16), col4, _mm512_loadu_ps(c)));
      _mm512_storeu_ps(c + 16, _mm512_fmadd_ps(_mm512_permutexvar_ps(hi, v16), col4, _mm512_loadu_ps(c + 16)));
    }
    if (j < b.n) AddRunAvx512(color + j, norm + j, kern + j, b.n - j, b.weight, b.col);
  }
}
// Sixteen output pixels at a time, each channel in its own register: sample
// j's kernel values for pixels p .. p + 15 are kpad[p - j .. p - j + 15],
// one load, times the sample's weighted colour, one broadcast per channel.
// The four channel sums are then interleaved into RGBA pixels.
__attribute__((target("avx512f,fma"))) void RowOfStillsAvx512(const RowOfStills& r) {
  float wr[16], wg[16], wb[16], wa[16];
  for (int32_t j = 0; j < r.count; ++j) {
    alignas(16) float w[4];
    _mm_store_ps(w, r.weighted[j]);
    wr[j] = w[0];
    wg[j] = w[1];
    wb[j] = w[2];
    wa[j] = w[3];
  }
  const float* k0 = r.kpad + kStillsPad;
  for (int32_t p = r.p0 & ~15; p <= r.p1; p += 16) {
    const int32_t j0 = std::max(0, p - r.d + 1), j1 = std::min(r.count - 1, p + 15);
    __m512 ar = _mm512_setzero_ps(), ag = ar, ab = ar, aa = ar, an = ar;
    for (int32_t j = j0; j <= j1; ++j) {
      const __m512 k = _mm512_loadu_ps(k0 + (p - j));
      ar = _mm512_fmadd_ps(k, _mm512_set1_ps(wr[j]), ar);
      ag = _mm512_fmadd_ps(k, _mm512_set1_ps(wg[j]), ag);
      ab = _mm512_fmadd_ps(k, _mm512_set1_ps(wb[j]), ab);
      aa = _mm512_fmadd_ps(k, _mm512_set1_ps(wa[j]), aa);
      an = _mm512_fmadd_ps(k, _mm512_set1_ps(r.weights[j]), an);
    }
    // Channels to pixels: within each 128-bit lane, then across lanes.
    const __m512 rg_lo = _mm512_unpacklo_ps(ar, ag), rg_hi = _mm512_unpackhi_ps(ar, ag);
    const __m512 ba_lo = _mm512_unpacklo_ps(ab, aa), ba_hi = _mm512_unpackhi_ps(ab, aa);
    const __m512 u0 = _mm512_shuffle_ps(rg_lo, ba_lo, 0x44), u1 = _mm512_shuffle_ps(rg_lo, ba_lo, 0xEE);
    const __m512 u2 = _mm512_shuffle_ps(rg_hi, ba_hi, 0x44), u3 = _mm512_shuffle_ps(rg_hi, ba_hi, 0xEE);
    const __m512 v0 = _mm512_shuffle_f32x4(u0, u1, 0x44), v1 = _mm512_shuffle_f32x4(u2, u3, 0x44);
    const __m512 v2 = _mm512_shuffle_f32x4(u0, u1, 0xEE), v3 = _mm512_shuffle_f32x4(u2, u3, 0xEE);
    const __m512 px[4] = {_mm512_shuffle_f32x4(v0, v1, 0x88), _mm512_shuffle_f32x4(v0, v1, 0xDD),
                          _mm512_shuffle_f32x4(v2, v3, 0x88), _mm512_shuffle_f32x4(v2, v3, 0xDD)};
    // Pixels of this group inside p0 .. p1.
    const int32_t first = std::max(p, r.p0) - p, last = std::min(p + 15, r.p1) - p;
    const uint32_t pixels = ((2u << last) - 1u) & ~((1u << first) - 1u);
    float* n = r.norm + p;
    const __mmask16 nl = __mmask16(pixels);
    _mm512_mask_storeu_ps(n, nl, _mm512_add_ps(_mm512_maskz_loadu_ps(nl, n), an));
    for (int32_t q = 0; q < 4; ++q) {
      const uint32_t four = (pixels >> (4 * q)) & 0xFu;
      if (!four) continue;
      __mmask16 lanes = 0;
      for (int32_t e = 0; e < 4; ++e)
        if (four & (1u << e)) lanes = __mmask16(lanes | (0xFu << (4 * e)));
      float* c = &r.color[p + 4 * q].r;
      _mm512_mask_storeu_ps(c, lanes, _mm512_add_ps(_mm512_maskz_loadu_ps(lanes, c), px[q]));
    }
  }
}
#pragma GCC diagnostic pop

RowOfStillsFn BestRowOfStills() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma") ? RowOfStillsAvx512 : nullptr;
}

void AddBlockRows(const Block& b) {
  for (int32_t r = 0; r < b.rows; ++r)
    AddRun(reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(b.color) +
                                                          ptrdiff_t(r) * b.color_stride),
           reinterpret_cast<float*>(reinterpret_cast<char*>(b.norm) + ptrdiff_t(r) * b.norm_stride),
           b.kern + ptrdiff_t(r) * b.kern_stride, b.n, b.weight, b.col);
}

AddBlockFn BestAddBlock() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) return AddBlockAvx512;
  return AddBlockRows;
}

AddRunFn BestAddRun() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return AddRunAvx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return AddRunAvx2;
  return AddRunSse;
}

}  // namespace splat
