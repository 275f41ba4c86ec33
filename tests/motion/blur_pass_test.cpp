#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/engine_frame.h"
#include "tests/support/simd_levels.h"

using namespace testing_support;

namespace {

struct Frame {
  std::string name;
  int w, h;
  std::function<PixelChannels(int, int)> scene;
  EdgeCondition edges;
  double max_blur = 0;  // percent of the width; 0: depth off
  float focus = 0;
  bool rims_per_point = false;  // walked streaks under span kernels add each point's rims
};

// The largest blur (percent of the width) that gives samples at depth value
// 1 (focus 0) a kernel of half side h; the bank stops at a quarter of the
// width, so h above width / 8 - 1 is not reached.
double MaxBlurForHalfSide(int h, int width) { return h == 0 ? 0 : 100.0 * 2.0 * (2.0 * h + 0.5) / double(width); }

// The blur pass against the straightforward order summed in double: every
// value within 1e-5 of its own magnitude plus 1e-7 of the frame's largest
// finite one. Where an infinite colour makes the straightforward value
// non-finite, the pass's is too (infinite or NaN); everywhere else it must
// not reach.
void ExpectSameAsReference(const Frame& fr, int threads, blur::BlurPass* kept = nullptr) {
  SCOPED_TRACE(fr.name + ", " + std::to_string(threads) + " threads");
  EngineFrame f(fr.w, fr.h, fr.scene, fr.edges, fr.max_blur, fr.focus);
  if (fr.rims_per_point) f.max_walked_tap_side = 0;
  f.BlurPass(threads, kept);
  f.ReferencePass();
  double largest = 0;
  for (const auto& plane : f.ref)
    for (double v : plane)
      if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
  ASSERT_GT(largest, 0.0);
  size_t bad = 0;
  for (int y = 0; y < f.height; ++y) {
    const auto* c = f.color.channel_row("OutRGBA", y);
    const float* n = f.norm.channel_row("Norm", y);
    for (int x = 0; x < f.width; ++x) {
      const size_t i = size_t(y) * size_t(f.width) + size_t(x);
      const float got[5] = {c[x].r, c[x].g, c[x].b, c[x].a, n[x]};
      for (int k = 0; k < 5; ++k) {
        const double want = f.ref[k][i];
        const bool agree = std::isfinite(want) ? std::fabs(got[k] - want) <= 1e-5 * std::fabs(want) + 1e-7 * largest
                                               : !std::isfinite(got[k]);
        if (!agree && bad++ < 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") plane " << k << ": " << got[k] << " against " << want;
      }
    }
  }
  EXPECT_EQ(bad, 0u);
}

// Under emulation the same kinds of frame, a few rows high.
int Rows(int rows) { return Emulated() ? std::min(rows, 7) : rows; }

std::vector<Frame> EveryKindOfFrame() {
  std::vector<Frame> frames;
  // Stills and alike runs at kernel half sides 0, 4, 5 and 12 (taps), 16
  // and 20 (sides 33 and 41: span kernels).
  for (int h : {0, 4, 5, 12, 16, 20}) {
    const int w = h > 12 ? 170 : 100, rows = h > 12 ? 12 : 20;
    const double blur = MaxBlurForHalfSide(h, w);
    const std::string side = ", half side " + std::to_string(h);
    frames.push_back({"stills" + side, w, Rows(rows), FlatPicture(1, 0, 0), EdgeCondition::Duplicate, blur});
    frames.push_back({"alike along x" + side, w, Rows(rows), FlatPicture(1, 17.5f, 0), EdgeCondition::Black, blur});
    frames.push_back({"alike along y, mirror" + side, w, Rows(rows), FlatPicture(1, 2.3f, 21.5f),
                      EdgeCondition::Mirror, blur});
  }
  // Runs of stills, and of alike moving points, under long tap rows (half
  // side 12) and short ones (4) with an infinite colour among them: it
  // makes infinity or NaN only where its own kernel reaches.
  for (int h : {4, 12})
    for (float vx : {0.0f, 17.5f}) {
      Frame infinite{std::string(vx > 0 ? "alike moving points" : "stills") +
                         " in a run with an infinite colour, half side " + std::to_string(h),
                     100, Rows(20),
                     [vx](int x, int y) {
                       PixelChannels c = FlatPicture(1, vx, 0)(x, y);
                       if (x == 40 && y == 5) c.G = INFINITY;
                       return c;
                     },
                     EdgeCondition::Duplicate, MaxBlurForHalfSide(h, 100)};
      frames.push_back(infinite);
    }
  // Streaks along x, y and diagonals, still and moving neighbours, bright
  // beside dark, in every edge condition.
  const double span_blur = MaxBlurForHalfSide(17, 150);  // side 35 at depth 1
  for (EdgeCondition e : {EdgeCondition::Duplicate, EdgeCondition::Black, EdgeCondition::Mirror}) {
    const std::string name = e == EdgeCondition::Duplicate ? "duplicate" : e == EdgeCondition::Black ? "black" : "mirror";
    frames.push_back({"shot, " + name, 80, Rows(45), ShotPicture(80, Rows(45), 3, 25), e, 6, 0.4f});
    frames.push_back({"diagonal, " + name, 57, Rows(41), FlatPicture(1, 12, 12), e, 6, 0.4f});
    frames.push_back({"steep, " + name, 57, Rows(41), FlatPicture(1, 2.5f, -60), e});
    frames.push_back({"corrupt, " + name, 64, Rows(40), FlatPicture(1, 1e9f, 3e8f), e});
    // Kernel sides from 7 to 35: span kernels (side 33 and up) and tap
    // kernels in one frame, HDR beside dark, streaks over them.
    frames.push_back({"shot with span kernels, " + name, 150, Rows(16), ShotPicture(150, Rows(16), 3, 25), e,
                      span_blur});
    // Streaks along x alone, either way, some longer than the frame: under
    // span kernels they go in as boxes.
    frames.push_back({"shot moving along x, " + name, 150, Rows(16),
                      [shot = ShotPicture(150, Rows(16), 3, 25)](int x, int y) {
                        PixelChannels c = shot(x, y);
                        c.VectX = float((x * 7 + y * 13) % 41 - 20) * 6.5f;
                        c.VectY = 0.0f;
                        return c;
                      },
                      e, span_blur});
  }
  // Span kernels under streaks along a diagonal and along y.
  frames.push_back({"diagonal span kernels", 150, Rows(14), FlatPicture(1, 12, 12), EdgeCondition::Black, span_blur});
  frames.push_back(
      {"span kernels along y", 150, Rows(14), FlatPicture(1, 0.5f, -30), EdgeCondition::Mirror, span_blur});
  // Neighbours that all move differently: every streak walked point by
  // point, under span kernels, and under tap kernels along streaks of more
  // points than gather as weights at once.
  for (const auto& [name, motion, blur] : {std::tuple{"span kernels", 6.0f, span_blur},
                                           std::tuple{"tap kernels", 70.0f, MaxBlurForHalfSide(5, 150)}})
    frames.push_back({std::string("walked streaks of ") + name, 150, Rows(14),
                      [motion = motion](int x, int y) {
                        PixelChannels c = FlatPicture(1, 0, 0)(x, y);
                        c.VectX = motion + float((x * 7 + y) % 5);
                        c.VectY = float((x + y * 3) % 4) - 1.5f;
                        return c;
                      },
                      EdgeCondition::Duplicate, blur});
  // Streaks walked as weights gather several at once; a short one in an
  // infinite colour must go alone, or its zero weights would reach its
  // long neighbours' pixels as NaN.
  Frame infinite = frames.back();
  infinite.name += ", one in an infinite colour";
  infinite.scene = [walked = infinite.scene](int x, int y) {
    PixelChannels c = walked(x, y);
    if (x == 75 && y == 3) {
      c.G = INFINITY;
      c.VectX = 6.0f;  // a short streak among long ones
    }
    return c;
  };
  frames.push_back(infinite);
  // The same under span kernels past the side whose walked streaks go tap
  // by tap: each point's rims.
  Frame rims = frames[frames.size() - 3];
  rims.name += ", each point's rims";
  rims.rims_per_point = true;
  frames.push_back(rims);
  return frames;
}

class BlurPass : public AtEveryLevel {};

}  // namespace

TEST_P(BlurPass, EqualsTheStraightforwardOrderForEveryKindOfFrame) {
  for (const Frame& fr : EveryKindOfFrame()) ExpectSameAsReference(fr, 3);
}

// A pass kept from frame to frame (as hosts keep it) starts each frame
// clean, even after a frame whose one blurred pixel, alone under a span
// kernel, had an infinite colour.
TEST_P(BlurPass, KeptFromFrameToFrameStartsClean) {
  const double blur = MaxBlurForHalfSide(17, 150);
  const auto moving = [](int x, int y) { return (x + y) % 3 == 0 ? 30.0f : 0.0f; };
  blur::BlurPass kept;
  for (float vx : {0.0f, 30.0f}) {
    EngineFrame(150, Rows(14),
                [vx](int x, int y) {
                  const bool lone = x == 75 && y == 3;
                  PixelChannels c = FlatPicture(lone ? 1.0f : 0.0f, vx, 0)(x, y);
                  if (lone) c.R = INFINITY;
                  return c;
                },
                EdgeCondition::Black, blur)
        .BlurPass(2, &kept);
    ExpectSameAsReference({"after an infinite colour", 150, Rows(14),
                           [moving](int x, int y) { return FlatPicture(1, moving(x, y), 0)(x, y); },
                           EdgeCondition::Black, blur},
                          2, &kept);
  }
}

// The same frame gives the same bits from run to run and at any thread
// count: the bands go into the images in chunk order.
// (Tap kernels only, then span kernels beside them: their differences go
// into the frame's rows in chunk order too, in groups of chunks, or with no
// room to park them in whatever groups are ready.)
TEST_P(BlurPass, RepeatsBitForBitAtAnyThreadCount) {
  const std::pair<double, float> settings[] = {{4.0, 0.4f}, {MaxBlurForHalfSide(19, 160), 0.0f}};
  for (const auto& blur_focus : settings) {
  SCOPED_TRACE(blur_focus.first);
  auto render = [blur_focus](int threads, size_t queued_span_bytes = blur::kQueuedSpanBytes) {
    EngineFrame f(160, Rows(90), ShotPicture(160, Rows(90), 3, 40), EdgeCondition::Duplicate, blur_focus.first,
                  blur_focus.second);
    f.queued_span_bytes = queued_span_bytes;
    f.BlurPass(threads);
    std::vector<float> out;
    for (int y = 0; y < f.height; ++y) {
      const float* c = &f.color.channel_row("OutRGBA", y)->r;
      const float* n = f.norm.channel_row("Norm", y);
      out.insert(out.end(), c, c + 4 * f.width);
      out.insert(out.end(), n, n + f.width);
    }
    return out;
  };
  const std::vector<float> first = render(2);
  for (int threads : {2, 2, 1, 3}) {
    const std::vector<float> again = render(threads);
    ASSERT_EQ(again.size(), first.size());
    EXPECT_EQ(std::memcmp(again.data(), first.data(), first.size() * sizeof(float)), 0) << threads << " threads";
  }
  const std::vector<float> unparked = render(3, 0);
  EXPECT_EQ(std::memcmp(unparked.data(), first.data(), first.size() * sizeof(float)), 0) << "nothing parked";
  }
}

QUORVEX_AT_EVERY_LEVEL(BlurPass);
