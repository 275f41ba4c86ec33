#pragma once
#include <cstdint>
#include <vector>

// The lens shapes, evaluated in double and stored as float, row-major.
namespace kernel_shapes {

enum Style : int32_t { Disk = 0, Polygon = 1, Gaussian = 2, Airy = 3, Laplacian = 4 };

struct Params {
  int32_t style = Disk;
  int32_t sides = 6;
  double angle_radians = 0.0;
  double bad_bokeh = 0.0;
};

// Side length of a kernel of size x: the smallest odd integer not below ceil(x).
int32_t SideLength(double x);

// The values of the shape of size x on a grid of side max(SideLength(x), min_side).
std::vector<float> Values(const Params& p, double x, int32_t min_side, int32_t& side);

double GaussianValue(double r, double s);

}  // namespace kernel_shapes
