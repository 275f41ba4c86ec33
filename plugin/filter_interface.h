#pragma once
#include <cstdint>
#include <vector>

#include "dof/kernel_shapes.h"
#include "host/Image.h"
#include "host/Input.h"
#include "host/Operator.h"

// Kernel-shape controls and the lens kernels they describe.
class filter_interface {
 public:
  Image* ReferenceImage = nullptr;
  int32_t BlurStyleIndex = 0;
  int32_t SideCount = 6;
  double KernelAngleRadians = 0.0;
  double BadBokehAmount = 0.0;
  Input* InBlurStyle = nullptr;
  Input* InBadBokeh = nullptr;
  Input* InKernelAngle = nullptr;
  Input* InPolygonSideCount = nullptr;
  bool DepthControlsShown = true;

  void CreateKernelControls(Operator* op);
  void KernelControlsChanged(Input* in, Parameter* param);

  // Kernel images (host images the caller owns and gives back).
  Image* CreateKernel(double size_x, double size_y, Image* custom, int32_t min_side);
  Image* CreateDiskKernel(double size, int32_t min_side);
  Image* CreatePolygonKernel(double size, int32_t min_side);
  Image* CreateGaussianKernel(double size, int32_t min_side);
  Image* CreateAiryKernel(double size, int32_t min_side);
  Image* CreateLaplacianKernel(double size, int32_t min_side);
  static double GaussianValue(double r, double s);
  // The normalised weights of a kernel image's red channel, row-major.
  static void KernelWeights(Image* kernel, std::vector<float>& out);
  // The weights of the built-in shape chosen by BlurStyleIndex, without a
  // host image: exactly what KernelWeights of CreateKernel gives.
  void ShapeWeights(double size, int32_t min_side, std::vector<float>& out) const;
  // The kernel members as the engine takes them.
  kernel_shapes::Params KernelShape() const;

 private:
  Image* DrawShape(int32_t style, double size, int32_t min_side);
};
