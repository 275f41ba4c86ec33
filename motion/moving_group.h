#pragma once
// Moving samples that follow one another in a chunk, splatted together into
// the chunk's band: stretches of neighbours that move alike go in as runs
// along rows (see LayOutAlike); the others' streaks under tap kernels are
// summed as weights one by one, the rest walked in step (LayOutInStep).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "motion/local_band.h"
#include "motion/streak_layout.h"

namespace splat {

// A bank entry as the pass adds it: its taps (side 2h + 1), the same inside
// a border of zeros (see ZeroBordered), and its spans when it goes as spans.
struct PassKernel {
  const float* taps = nullptr;
  const float* bordered = nullptr;
  int32_t h = 0;
  const dof::KernelSpans* spans = nullptr;
};

class MovingGroup {
 public:
  static constexpr size_t kMaxSamples = 256;

  // Kept by `band` (see LocalBand::Moving) from chunk to chunk.
  explicit MovingGroup(LocalBand& band);
  // Before a chunk's samples: `scratch` holds ScratchSize(h) floats for the
  // largest kernel added.
  void Begin(float* scratch, bool mirror, int32_t width, int32_t height);

  bool Full() const { return count_ == kMaxSamples; }
  // A moving sample with its kernel; `s` and the kernel must outlive Splat().
  void Add(const pixel_sample& s, const PassKernel& k);
  // Adds every sample's streak into the band and empties the group.
  void Splat();

 private:
  void Point(size_t j, float x, float y, float weight);
  // Sample j's streak (a tap kernel) as one field of weights in its colour,
  // gathered with those of the streaks before it (see AddGatheredWeights).
  void WalkAsWeights(size_t j);
  // Adds the gathered streaks' weights into the band.
  void AddGatheredWeights();
  // Sample j's streak along its row (a span kernel) as boxes of points.
  void AsBoxes(size_t j);
  // Alike's samples (streaks along their row, span kernels, no mirror) as
  // one box of them.
  void AlikeAsBoxes(size_t a, size_t e, bool leftwards);
  // Samples a .. e - 1 move alike, each one column right of the one before
  // (or, `leftwards`, left of it).
  void Alike(size_t a, size_t e, bool leftwards);
  bool MoveAlike(size_t p, size_t q) const;  // q one column right of p

  LocalBand& band_;
  float* scratch_ = nullptr;
  bool mirror_ = false;
  int32_t width_ = 0, height_ = 0;
  size_t count_ = 0;
  std::vector<streak::Plan> plans_, ordered_;
  std::vector<const float*> kerns_, bordered_;
  std::vector<int32_t> halves_;
  std::vector<const dof::KernelSpans*> spans_;
  std::vector<uint8_t> boxes_;  // per sample: its streak goes as boxes (AsBoxes)
  Colour colours_[kMaxSamples], ordered_colours_[kMaxSamples];
  std::vector<size_t> order_, rest_;
  // Streaks whose weights are gathered, their colours and the columns they
  // may reach between them.
  int32_t gathered_ = 0;
  Colour gathered_colours_[kMaxGatheredStreaks];
  int64_t gathered_lo_ = 0, gathered_hi_ = -1;
};

}  // namespace splat
