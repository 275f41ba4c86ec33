#pragma once
// The frame's kernel bank: entry k holds the normalised weights (row-major,
// side 2h + 1) of the kernel for a blur diameter of k * kernel_step pixels;
// entry 0 is the one-pixel kernel {1}.
#include <cstdint>
#include <functional>
#include <vector>

#include "dof/depth_to_blur.h"
#include "dof/kernel_shapes.h"

namespace dof {

using KernelBank = std::vector<std::vector<float>>;

// Weights divided by the sum of their absolute values.
void NormaliseWeights(std::vector<float>& w);

// The normalised weights of a built-in shape of size (diameter) x.
void ShapeWeights(const kernel_shapes::Params& p, double x, int32_t min_side, std::vector<float>& out);

// A user kernel ("BlurImage") for diameter x, given by the host: fills
// `out` with its normalised weights. Empty when there is none to give.
using CustomKernel = std::function<void(double x, std::vector<float>& out)>;

// Fills `bank` with KernelBankSize entries (one with depth off). With
// `wanted`, only the entries it marks are filled; the others stay empty (no
// sample reaches them). With `custom`, every entry comes from it.
void BuildKernelBank(const DepthSettings& s, int32_t width, const kernel_shapes::Params& shape,
                     const CustomKernel* custom, const std::vector<uint8_t>* wanted, KernelBank& bank);

}  // namespace dof
