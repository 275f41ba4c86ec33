// The tool's kernel bank: built by the engine, with "BlurImage" entries
// answered through the host's resize of the kernel image.
#include "dof/kernel_bank.h"

#include "plugin/depth_blur_interface.h"

int32_t depth_blur_interface::KernelBankCount(int32_t width) const { return dof::KernelBankSize(EngineDepth(), width); }

void depth_blur_interface::BuildKernelBank(Image* blur_image, int32_t width, const std::vector<uint8_t>* wanted) {
  const dof::CustomKernel resized = [this, blur_image](double d, std::vector<float>& out) {
    Image* img = CreateKernel(d, d, blur_image, 3);
    if (!img) return;
    try {
      KernelWeights(img, out);
    } catch (...) {
      img->Recycle();
      throw;
    }
    img->Recycle();
  };
  dof::BuildKernelBank(EngineDepth(), width, KernelShape(), blur_image ? &resized : nullptr, wanted, KernelBank);
}
