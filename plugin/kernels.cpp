// Kernel images: the built-in shapes drawn into host images, a user's kernel
// image resized, and the conversion of a kernel image into weights.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dof/kernel_bank.h"
#include "dof/kernel_shapes.h"
#include "plugin/filter_interface.h"

namespace {
TagList ResizeTags(double sx, double sy, int32_t min_side) {
  using kernel_shapes::SideLength;
  return {{RSZ_Width, SideLength(std::max(sx, double(min_side)))},
          {RSZ_Height, SideLength(std::max(sy, double(min_side)))},
          {RSZ_Filter, 7}};
}
}  // namespace

Image* filter_interface::DrawShape(int32_t style, double size, int32_t min_side) {
  kernel_shapes::Params p{style, SideCount, KernelAngleRadians, BadBokehAmount};
  int32_t n = 0;
  std::vector<float> values = kernel_shapes::Values(p, size, min_side, n);
  Image* img = NewImage({{IMG_Like, static_cast<const void*>(ReferenceImage)}, {IMG_Width, n}, {IMG_Height, n},
                         {IMG_Depth, 7}});
  if (!img) throw std::runtime_error("The host could not make a kernel image.");
  RowIterator it(img);
  for (int32_t j = 0; j < n; ++j) {
    it.GotoXY(0, j);
    for (int32_t i = 0; i < n; ++i) {
      FltPixel px;
      px.R = px.G = px.B = px.A = values[size_t(j) * n + i];
      it.PutNextPixel(px);
    }
  }
  return img;
}

Image* filter_interface::CreateDiskKernel(double size, int32_t min_side) {
  return DrawShape(kernel_shapes::Disk, size, min_side);
}
Image* filter_interface::CreatePolygonKernel(double size, int32_t min_side) {
  return DrawShape(kernel_shapes::Polygon, size, min_side);
}
Image* filter_interface::CreateGaussianKernel(double size, int32_t min_side) {
  return DrawShape(kernel_shapes::Gaussian, size, min_side);
}
Image* filter_interface::CreateAiryKernel(double size, int32_t min_side) {
  return DrawShape(kernel_shapes::Airy, size, min_side);
}
Image* filter_interface::CreateLaplacianKernel(double size, int32_t min_side) {
  return DrawShape(kernel_shapes::Laplacian, size, min_side);
}

double filter_interface::GaussianValue(double r, double s) { return kernel_shapes::GaussianValue(r, s); }

Image* filter_interface::CreateKernel(double size_x, double size_y, Image* custom, int32_t min_side) {
  if (!(size_x > 0 && size_y > 0) && min_side < 1) return nullptr;
  const TagList resize = ResizeTags(size_x, size_y, min_side);
  if (custom) return custom->ResizeOfImage(resize);
  Image* square = DrawShape(BlurStyleIndex, std::max(size_x, size_y), min_side);
  if (size_x == size_y) return square;
  Image* resized = square->ResizeOfImage(resize);
  square->Recycle();
  return resized;
}


void filter_interface::KernelWeights(Image* kernel, std::vector<float>& out) {
  out.clear();
  if (!kernel) return;
  out.reserve(size_t(kernel->Width) * size_t(kernel->Height));
  RowIterator it(kernel);
  for (int32_t y = 0; y < kernel->Height; ++y) {
    it.GotoXY(0, y);
    for (int32_t x = 0; x < kernel->Width; ++x) {
      FltPixel px;
      it.GetNextPixel(px);
      out.push_back(px.R);
    }
  }
  dof::NormaliseWeights(out);
}

void filter_interface::ShapeWeights(double size, int32_t min_side, std::vector<float>& out) const {
  dof::ShapeWeights(KernelShape(), size, min_side, out);
}

kernel_shapes::Params filter_interface::KernelShape() const {
  return {BlurStyleIndex, SideCount, KernelAngleRadians, BadBokehAmount};
}
