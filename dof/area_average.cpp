#include "dof/area_average.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace dof {

namespace {
// out[i] (n_out values, `out_stride` apart) = mean of in[] (n_in values,
// `in_stride` apart) over [i, i + 1) * n_in / n_out.
void Reduce1D(const float* in, int32_t n_in, int64_t in_stride, float* out, int32_t n_out, int64_t out_stride) {
  const double scale = double(n_in) / double(n_out);
  for (int32_t i = 0; i < n_out; ++i) {
    const double a = double(i) * scale, b = double(i + 1) * scale;
    double sum = 0;
    for (int32_t s = int32_t(std::floor(a)); s < int32_t(std::ceil(b)) && s < n_in; ++s) {
      const double cover = std::min(b, double(s + 1)) - std::max(a, double(s));
      sum += cover * double(in[s * in_stride]);
    }
    out[i * out_stride] = float(sum / scale);
  }
}
}  // namespace

void AreaAverage(const float* src, int32_t sw, int32_t sh, float* dst, int32_t dw, int32_t dh) {
  std::vector<float> rows(size_t(dw) * size_t(sh));
  for (int32_t y = 0; y < sh; ++y) Reduce1D(src + int64_t(y) * sw, sw, 1, rows.data() + int64_t(y) * dw, dw, 1);
  for (int32_t x = 0; x < dw; ++x) Reduce1D(rows.data() + x, sh, dw, dst + x, dh, dw);
}

}  // namespace dof
