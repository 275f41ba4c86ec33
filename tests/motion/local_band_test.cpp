#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "motion/local_band.h"
#include "motion/moving_group.h"
#include "motion/streak_layout.h"
#include "tests/support/simd_levels.h"

using testing_support::AtEveryLevel;

namespace {

using splat::Colour;

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

// A W x H pair of accumulation images in plain memory.
struct Images {
  Images(int32_t W, int32_t H) : color(size_t(W) * size_t(H)), norm(size_t(W) * size_t(H)) {
    target = {color.data(), norm.data(), int32_t(W * sizeof(Colour)), int32_t(W * sizeof(float)), W, H};
  }
  std::vector<Colour> color;
  std::vector<float> norm;
  splat::Target target;
};
auto NoLock() {
  return [](int32_t) { return 0; };
}

// The band flushed into fresh images; then nothing may be left in it, even
// outside the spans it flushed.
Images Flushed(splat::LocalBand& band, int32_t W, int32_t H) {
  Images out(W, H);
  band.Flush(out.target, NoLock());
  const std::vector<float> zeros(size_t(W), 0.0f);
  for (int32_t r = band.row_lo; r <= band.row_hi; ++r) band.Add(r, 0, zeros.data(), W, 0.0f, Colour{1, 1, 1, 1});
  Images rest(W, H);
  band.Flush(rest.target, NoLock());
  for (size_t p = 0; p < rest.norm.size(); ++p) {
    EXPECT_EQ(rest.norm[p], 0.0f) << "stray write at pixel " << p;
    EXPECT_EQ(rest.color[p].g, 0.0f) << "stray write at pixel " << p;
  }
  return out;
}

void ExpectNear(const Images& got, const Images& want, const char* what) {
  for (size_t p = 0; p < got.norm.size(); ++p) {
    ASSERT_NEAR(got.norm[p], want.norm[p], 1e-6f) << what << ", pixel " << p;
    ASSERT_NEAR(got.color[p].r, want.color[p].r, 1e-5f) << what << ", pixel " << p;
    ASSERT_NEAR(got.color[p].b, want.color[p].b, 1e-5f) << what << ", pixel " << p;
    ASSERT_NEAR(got.color[p].a, want.color[p].a, 1e-5f) << what << ", pixel " << p;
  }
}

class LocalBand : public AtEveryLevel {};
class MovingGroup : public AtEveryLevel {};

}  // namespace

// Runs of still samples, summed per output pixel before they are added, add
// what the samples added one by one straight into the images would, clipped
// at both sides of the image and at the band's rows; kernel half sides on
// both sides of 4 and 16 take the same route.
TEST_P(LocalBand, RunsOfStillsEqualTheirSamplesAddedOneByOne) {
  const int32_t W = 37, H = 11;
  for (int32_t h : {0, 1, 4, 5, 12}) {
    const std::vector<float> kern = Kernel(h);
    for (int32_t x0 : {-2, 0, 3, 20, 34}) {
      for (int32_t count : {2, 5, 16}) {
        float weights[16];
        Colour colours[16];
        for (int32_t j = 0; j < count; ++j) {
          weights[j] = 0.25f + 0.05f * float(j);
          colours[j] = {1.0f + float(j), 0.5f, 2.0f - 0.1f * float(j), 1.0f};
        }
        splat::LocalBand run;
        run.Reset(W, 1, H - 2);  // rows 0 and H - 1 are outside the band
        run.AddRunOfStills(x0, 4, count, weights, colours, kern.data(), h);
        Images want(W, H);
        auto rows = splat::MakeImageRows(want.target, NoLock());
        rows.row_lo = 1;
        rows.row_hi = H - 2;
        for (int32_t j = 0; j < count; ++j) splat::AtPixel(rows, x0 + j, 4, weights[j], colours[j], kern.data(), h);
        ExpectNear(Flushed(run, W, H), want, "run of stills");
      }
    }
  }
}

// Moving samples through the group (alike stretches as runs, the rest in
// step) add what each sample's own streak adds point by point; the samples
// that break the stretches have a smaller kernel than the others (a point's
// footprint must not read what a larger one left in the scratch).
TEST_P(MovingGroup, EqualsEachStreakLaidOutOnItsOwn) {
  const int32_t W = 48, H = 30;
  struct Case {
    float vx, vy;
    int32_t h;
    bool mirror;
  };
  const Case cases[] = {{9.5f, 0.0f, 0, false},  {9.5f, 2.25f, 2, false}, {-3.0f, 14.5f, 0, true},
                        {6.3f, -17.5f, 5, true}, {11.0f, 11.0f, 1, false}, {-25.0f, 4.0f, 4, true}};
  for (const Case& c : cases) {
    const std::vector<float> kern = Kernel(c.h), small = Kernel(c.h / 2);
    std::vector<pixel_sample> samples;
    for (int32_t x = -3; x < W + 2; ++x) {
      pixel_sample s;
      s.x = float(x);
      s.y = 13.0f;
      s.color = {0.2f + 0.01f * float(x), 0.7f, 1.5f, 1.0f};
      // Alike stretches broken every 7 samples by another velocity (and a
      // smaller kernel); right of x = 30 no stretches at all.
      const bool odd = (x + 3) % 7 == 6;
      s.vx = odd ? c.vx * 0.5f : x > 30 && x % 2 ? c.vx * 0.75f : c.vx;
      s.vy = c.vy;
      samples.push_back(s);
    }
    splat::LocalBand band;
    band.Reset(W, 0, H - 1);
    std::vector<float> scratch(splat::ScratchSize(c.h), 0.0f);
    splat::MovingGroup group(band);
    group.Begin(scratch.data(), c.mirror, W, H);
    auto is_small = [&](const pixel_sample& s) { return s.vx == c.vx * 0.5f; };
    const std::vector<float> small_bordered = splat::ZeroBordered(small.data(), 2 * (c.h / 2) + 1),
                             kern_bordered = splat::ZeroBordered(kern.data(), 2 * c.h + 1);
    for (const pixel_sample& s : samples)
      group.Add(s, is_small(s) ? splat::PassKernel{small.data(), small_bordered.data(), c.h / 2, nullptr}
                              : splat::PassKernel{kern.data(), kern_bordered.data(), c.h, nullptr});
    group.Splat();

    Images want(W, H);
    auto rows = splat::MakeImageRows(want.target, NoLock());
    for (const pixel_sample& s : samples) {
      const int32_t h = is_small(s) ? c.h / 2 : c.h;
      streak::LayOut(s, c.mirror, W, H, h + 1, [&](const pixel_sample& q) {
        if (splat::Lands(q)) splat::FourCopies(rows, q, is_small(s) ? small.data() : kern.data(), h);
      });
    }
    ExpectNear(Flushed(band, W, H), want, "moving group");
  }
}

QUORVEX_AT_EVERY_LEVEL(LocalBand);
QUORVEX_AT_EVERY_LEVEL(MovingGroup);
