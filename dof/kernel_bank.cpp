#include "dof/kernel_bank.h"

#include <cmath>
#include <stdexcept>

namespace dof {

void NormaliseWeights(std::vector<float>& w) {
  float sum = 0.0f;
  for (float v : w) sum += std::fabs(v);
  // A kernel without weight (a blur image whose red channel is zero, or not
  // finite) would turn the frame into NaN: that is an error of the frame.
  if (!(sum > 0.0f) || !std::isfinite(sum))
    throw std::runtime_error(
        "The blur image's red channel has no usable weight (it sums to zero or is not finite); "
        "connect a kernel image with a positive red channel.");
  for (float& v : w) v = v / sum;
}

void ShapeWeights(const kernel_shapes::Params& p, double x, int32_t min_side, std::vector<float>& out) {
  int32_t side = 0;
  out = kernel_shapes::Values(p, x, min_side, side);
  NormaliseWeights(out);
}

void BuildKernelBank(const DepthSettings& s, int32_t width, const kernel_shapes::Params& shape,
                     const CustomKernel* custom, const std::vector<uint8_t>* wanted, KernelBank& bank) {
  KernelBank().swap(bank);
  bank.push_back({1.0f});
  if (!s.enabled) return;
  const int32_t count = KernelBankSize(s, width);
  bank.resize(size_t(count));
  for (int32_t k = 1; k < count; ++k) {
    if (wanted && (size_t(k) >= wanted->size() || !(*wanted)[size_t(k)])) continue;
    const double d = double(float(k) * s.kernel_step);
    if (custom)
      (*custom)(d, bank[size_t(k)]);
    else
      ShapeWeights(shape, d, 3, bank[size_t(k)]);
  }
}

}  // namespace dof
