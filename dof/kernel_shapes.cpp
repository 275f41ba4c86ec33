#include "dof/kernel_shapes.h"

#include <algorithm>
#include <cmath>

#include "dof/truncate.h"

namespace kernel_shapes {
namespace {

constexpr double kPi = 3.141592653589793;
const double kMinRadius = double(1e-4f);

double DiskRule(double r, double R, double bokeh) {
  if (r <= R) return 1.0 + 4.0 * bokeh * std::pow(r / R, 4.0);
  if (r <= R + 1.0) return (R + 1.0 - r) * (1.0 + 4.0 * bokeh);
  return 0.0;
}

// Folds an angle into [-h, h). Angles far outside are brought near the range
// with fmod first so that no value makes the loops run long.
double FoldAngle(double w, double h) {
  const double two_h = 2.0 * h;
  if (!(std::fabs(w) < 1e6 * two_h)) w = std::fmod(w, two_h);
  while (w >= h) w -= two_h;
  while (w < -h) w += two_h;
  return w;
}

}  // namespace

int32_t SideLength(double x) {
  int32_t t = TruncToInt32(std::ceil(x) * -0.5);
  return 1 - 2 * t;
}

double GaussianValue(double r, double s) { return std::pow(2.718281828459045, -(r * r / (s * s))) / (s * s); }

std::vector<float> Values(const Params& p, double x, int32_t min_side, int32_t& side) {
  side = std::max(SideLength(x), min_side);
  const int32_t n = side;
  const double c = (n - 1) / 2;
  const double R = std::max(kMinRadius, (x - 1.0) / 2.0);
  const int32_t sides = std::min(std::max(p.sides, 3), 1 << 20);
  const double h = kPi / sides;
  const double a = std::cos(h) * R;
  const double s = x / 6.0;
  const double g0 = GaussianValue(0.0, s);
  std::vector<float> out(size_t(n) * size_t(n));
  for (int32_t j = 0; j < n; ++j)
    for (int32_t i = 0; i < n; ++i) {
      const double dx = i - c, dy = j - c;
      const double r = std::sqrt(dx * dx + dy * dy);
      double v = 0.0;
      switch (p.style) {
        case Polygon: {
          const double w = FoldAngle(std::atan2(dy, dx) + p.angle_radians, h);
          v = DiskRule(r, a / std::cos(w), p.bad_bokeh);
          break;
        }
        case Gaussian:
          v = GaussianValue(r, s) / g0;
          break;
        case Airy: {
          double rho = r / (x / 20.347);
          if (rho < 10.1735) {
            if (rho == 0.0) rho = 1e-11;
            const double q = std::cyl_bessel_j(1.0, rho) / rho;
            v = 4.0 * (q * q);
          }
          break;
        }
        case Laplacian: {
          const double q = (r * r) / (2.0 * s * s);
          v = std::exp(-q) * (1.0 - q);
          break;
        }
        default:  // Disk, and any style number the control cannot produce
          v = DiskRule(r, R, p.bad_bokeh);
          break;
      }
      out[size_t(j) * n + i] = float(v);
    }
  return out;
}

}  // namespace kernel_shapes
