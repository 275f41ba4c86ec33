// The frame's kernel bank: entry k holds the kernel for a blur diameter of
// k * KernelStep pixels; entry 0 is the one-pixel kernel.
#include <cmath>
#include <limits>

#include "plugin/depth_blur_interface.h"

int32_t depth_blur_interface::KernelBankCount(int32_t width) const {
  if (!DepthEnabled) return 1;
  const float limit_w = float(double(width) / (double(KernelStep) * 4.0));
  const float limit_s = BlurScale / KernelStep;
  const float limit = limit_s > limit_w ? limit_w : limit_s;
  if (!(limit >= 1.0f)) return 1;
  const double count = 1.0 + std::floor(double(limit));
  return count < double(std::numeric_limits<int32_t>::max()) ? int32_t(count) : std::numeric_limits<int32_t>::max();
}

void depth_blur_interface::BuildKernelBank(Image* blur_image, int32_t width, const std::vector<uint8_t>* wanted) {
  std::vector<std::vector<float>>().swap(KernelBank);
  KernelBank.push_back({1.0f});
  if (!DepthEnabled) return;
  const int32_t count = KernelBankCount(width);
  KernelBank.resize(size_t(count));
  for (int32_t k = 1; k < count; ++k) {
    if (wanted && (size_t(k) >= wanted->size() || !(*wanted)[size_t(k)])) continue;
    const double d = double(float(k) * KernelStep);
    if (blur_image) {
      Image* img = CreateKernel(d, d, blur_image, 3);
      if (!img) continue;
      try {
        KernelWeights(img, KernelBank[size_t(k)]);
      } catch (...) {
        img->Recycle();
        throw;
      }
      img->Recycle();
    } else {
      ShapeWeights(d, 3, KernelBank[size_t(k)]);
    }
  }
}
