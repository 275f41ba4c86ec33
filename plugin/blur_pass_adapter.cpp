// The tool's blur pass: the engine's pass over the frame's samples, run
// chunk by chunk on the host's worker threads, on the tool's accumulation
// images, kernel bank and row locks.
#include <vector>

#include "plugin/Quorvex.h"

namespace {
auto LockOf(std::vector<boost::shared_ptr<boost::mutex>>& locks) {
  return [&locks](int32_t r) { return boost::mutex::scoped_lock(*locks[size_t(r)]); };
}
}  // namespace

splat::Target depth_blur_interface::SplatTarget() const {
  return {ColorRow0, NormRow0, ColorAccum.row_stride, WeightAccum.row_stride, ColorAccum.width, ColorAccum.height};
}

void depth_blur_interface::splat_sample(const pixel_sample& q) {
  if (!splat::Lands(q)) return;
  const int32_t k = SampleKernelIndex(q.depth);
  const splat::Target t = SplatTarget();
  auto rows = splat::MakeImageRows(t, LockOf(row_locks));
  splat::FourCopies(rows, q, KernelBank[size_t(k)].data(), splat::KernelHalfSide(k, KernelStep));
}

void depth_blur_interface::render_streak(const pixel_sample& p, bool mirror) {
  const int32_t k = SampleKernelIndex(p.depth);
  std::vector<float> scratch(splat::ScratchSize(splat::KernelHalfSide(k, KernelStep)), 0.0f);
  blur::SplatStreakDirect(PassInputsFor(nullptr, 0, mirror), p, k, scratch.data());
}

blur::PassInputs depth_blur_interface::PassInputsFor(const pixel_sample* samples, size_t count, bool mirror) {
  blur::PassInputs in;
  in.samples = samples;
  in.count = count;
  in.bank = &KernelBank;
  in.depth = EngineDepth();
  in.mirror = mirror;
  in.image = SplatTarget();
  in.row_locks = &row_locks;
  return in;
}

void depth_blur_interface::BeginBlurPass(const pixel_sample* samples, size_t count, bool mirror) {
  Pass.Begin(PassInputsFor(samples, count, mirror));
}

void depth_blur_interface::FinishBlurPass() { Pass.Finish(); }

void Quorvex::ProcessChunk(Request*, int32_t chunk) { Pass.RunChunk(chunk, Abort); }
