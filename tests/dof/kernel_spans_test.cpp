#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dof/kernel_bank.h"
#include "dof/kernel_spans.h"

namespace {

// Row i of the kernel rebuilt from its differences: a running sum over the
// row's two stretches.
std::vector<double> RebuiltRow(const dof::KernelSpans& s, int32_t i, int32_t d) {
  const dof::SpanRow& r = s.rows[size_t(i)];
  std::vector<double> step(size_t(d) + 2, 0.0);
  for (int32_t c = r.a0; c < r.a1; ++c) step[size_t(c)] += s.deltas[r.a + size_t(c - r.a0)];
  for (int32_t c = r.b0; c < r.b1; ++c) step[size_t(c)] += s.deltas[r.b + size_t(c - r.b0)];
  std::vector<double> row(size_t(d) + 2);
  double sum = 0.0;
  for (size_t c = 0; c < row.size(); ++c) row[c] = sum += step[c];
  return row;
}

}  // namespace

// Flat kernels go as spans, and their differences give back every weight
// exactly (past the kernel's last column, zero); the others go tap by tap.
TEST(KernelSpans, FlatKernelsGoAsSpansAndGiveBackEveryWeight) {
  struct Case {
    std::string name;
    kernel_shapes::Params shape;
    double diameter;
    bool spans;
  };
  using kernel_shapes::Params;
  const std::vector<Case> cases = {
      {"disk, side 33", Params{kernel_shapes::Disk, 6, 0, 0}, 32.5, true},
      {"disk, side 201", Params{kernel_shapes::Disk, 6, 0, 0}, 200.5, true},
      {"hexagon, side 41", Params{kernel_shapes::Polygon, 6, 0.3, 0}, 40.5, true},
      {"triangle, side 51", Params{kernel_shapes::Polygon, 3, 1.0, 0}, 50.5, true},
      {"disk below the smallest span side", Params{kernel_shapes::Disk, 6, 0, 0}, 30.5, false},
      {"disk with bad bokeh", Params{kernel_shapes::Disk, 6, 0, 0.5}, 40.5, false},
      {"gaussian", Params{kernel_shapes::Gaussian, 6, 0, 0}, 40.5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> kern;
    dof::ShapeWeights(c.shape, c.diameter, 3, kern);
    const dof::KernelSpans s = dof::FindSpans(kern);
    ASSERT_EQ(!s.Empty(), c.spans);
    if (s.Empty()) continue;
    const int32_t d = int32_t(s.rows.size());
    ASSERT_EQ(size_t(d) * size_t(d), kern.size());
    size_t differences = 0;
    for (const dof::SpanRow& r : s.rows) differences += size_t(r.a1 - r.a0 + r.b1 - r.b0);
    EXPECT_LT(differences, 8 * size_t(d));  // about the perimeter, not the area
    for (int32_t i = 0; i < d; ++i) {
      const std::vector<double> row = RebuiltRow(s, i, d);
      for (int32_t x = 0; x < d + 2; ++x)
        ASSERT_EQ(row[size_t(x)], x < d ? double(kern[size_t(i) * size_t(d) + size_t(x)]) : 0.0)
            << "row " << i << " column " << x;
    }
  }
}

// A blur image of the same form (a flat square, or a ring that is flat
// inside) goes as spans too; one without it (noise) does not.
TEST(KernelSpans, BlurImagesOfTheFormGoAsSpans) {
  const int32_t d = 41;
  std::vector<float> square(size_t(d) * size_t(d), 1.0f / float(d * d)), noise(square);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] *= 1.0f + 0.01f * float(i % 7);
  EXPECT_FALSE(dof::FindSpans(square).Empty());
  EXPECT_TRUE(dof::FindSpans(noise).Empty());
  EXPECT_TRUE(dof::FindSpans(std::vector<float>(size_t(d) * size_t(d - 1), 1.0f)).Empty());  // not square
}
