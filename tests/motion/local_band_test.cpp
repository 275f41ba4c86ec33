#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "motion/local_band.h"

namespace {

// A normalised d x d kernel that is not symmetric, so that a flipped or
// shifted row shows.
std::vector<float> Kernel(int32_t h) {
  const int32_t d = 2 * h + 1;
  std::vector<float> k(size_t(d) * size_t(d));
  double sum = 0;
  for (int32_t i = 0; i < d * d; ++i) sum += k[size_t(i)] = float(1 + (i * 7) % 11);
  for (float& v : k) v = float(v / sum);
  return k;
}

// Every pixel of rows 0 .. H - 1, flushed into a zeroed image.
struct Flushed {
  std::vector<tessaly_image::color_rgba_f> color;
  std::vector<float> norm;
};
Flushed Flush(splat::LocalBand& band, int32_t W, int32_t H) {
  Flushed out{std::vector<tessaly_image::color_rgba_f>(size_t(W) * size_t(H)), std::vector<float>(size_t(W) * size_t(H))};
  const splat::Target image{out.color.data(), out.norm.data(), int32_t(W * sizeof(tessaly_image::color_rgba_f)),
                            int32_t(W * sizeof(float)), W, 0, H - 1};
  band.Flush(image, [](int32_t) { return 0; });
  // Nothing may be left in the band outside the spans it flushed.
  std::vector<tessaly_image::color_rgba_f> color(out.color.size());
  std::vector<float> norm(out.norm.size());
  band.TouchRows(1, H - 2, 0, W - 1);
  band.Flush({color.data(), norm.data(), image.color_stride, image.norm_stride, W, 0, H - 1}, [](int32_t) { return 0; });
  for (size_t p = 0; p < norm.size(); ++p) {
    EXPECT_EQ(norm[p], 0.0f) << "stray write at pixel " << p;
    EXPECT_EQ(color[p].r, 0.0f) << "stray write at pixel " << p;
  }
  return out;
}

}  // namespace

// Runs of still samples summed per output pixel (in registers, or with wide
// vectors where the processor has them) add what the samples added one by
// one would, clipped at both sides of the image and at the band's rows.
TEST(LocalBand, RunsOfStillsEqualTheirSamplesAddedOneByOne) {
  const int32_t W = 23, H = 9;
  for (int32_t h : {0, 1, 3, 6}) {
    const std::vector<float> kern = Kernel(h);
    for (int32_t x0 : {-2, 0, 3, 14, 20}) {
      for (int32_t count : {2, 5, 16}) {
        float weights[16];
        __m128 colours[16];
        for (int32_t j = 0; j < count; ++j) {
          weights[j] = 0.25f + 0.05f * float(j);
          colours[j] = _mm_setr_ps(1.0f + float(j), 0.5f, 2.0f - 0.1f * float(j), 1.0f);
        }
        splat::LocalBand one, run, wide;
        for (auto* b : {&one, &run, &wide}) b->Reset(W, 1, H - 2);  // rows 0 and H - 1 are outside the band
        for (int32_t j = 0; j < count; ++j) one.AddAtPixel(x0 + j, 2, weights[j], colours[j], kern.data(), h);
        if (h <= 4) run.AddRunOfStills(x0, 2, count, weights, colours, kern.data(), h);
        if (splat::LocalBand::WideRunsOfStills()) wide.AddRunOfStillsWide(x0, 2, count, weights, colours, kern.data(), h);
        const Flushed expected = Flush(one, W, H);
        for (auto* b : {&run, &wide}) {
          if (b == &run && h > 4) continue;
          if (b == &wide && !splat::LocalBand::WideRunsOfStills()) continue;
          const Flushed got = Flush(*b, W, H);
          for (size_t p = 0; p < got.norm.size(); ++p) {
            ASSERT_NEAR(got.norm[p], expected.norm[p], 1e-6f) << "h " << h << " x0 " << x0 << " count " << count << " pixel " << p;
            ASSERT_NEAR(got.color[p].r, expected.color[p].r, 1e-5f) << "pixel " << p;
            ASSERT_NEAR(got.color[p].b, expected.color[p].b, 1e-5f) << "pixel " << p;
          }
        }
      }
    }
  }
}
