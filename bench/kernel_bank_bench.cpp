// The kernel bank at "MaxBlurSize" 1 % and 25 % of a 1920-pixel-wide frame:
// what the full bank would hold, and what a frame's reachable bank costs.
//   build/bin/kernel_bank_bench
#include <benchmark/benchmark.h>

#include "dof/kernel_shapes.h"
#include "tests/support/prepared_frame.h"

namespace {

using namespace testing_support;

// Entries and weights of the full bank, counted without building it.
void FullBank(benchmark::State& state) {
  const double percent = double(state.range(0));
  double entries = 0, weights = 0;
  for (auto _ : state) {
    const float scale = 1920.0f * float(percent) / 100.0f;
    const float limit = std::min(scale / 0.01f, float(1920.0 / (double(0.01f) * 4.0)));
    entries = 1 + std::floor(limit);
    weights = 1;
    for (int k = 1; k < int(entries); ++k) {
      const double side = std::max(kernel_shapes::SideLength(double(float(k) * 0.01f)), 3);
      weights += side * side;
    }
  }
  state.counters["entries"] = entries;
  state.counters["weights"] = weights;
  state.counters["GB"] = weights * 4 / 1e9;
}
BENCHMARK(FullBank)->Arg(1)->Arg(25)->Unit(benchmark::kMillisecond);

// The bank a 1920 x 1080 shot builds: only the entries its samples reach.
void FrameBank(benchmark::State& state) {
  Image* img = ShotScene(1920, 1080, 0, 0);
  PreparedFrame f(img, {{"EnableDepth", 1}, {"FocusPosition", 0.5}, {"MaxBlurSize", double(state.range(0))}});
  img->Recycle();
  for (auto _ : state) f.tool->BuildBankForSamples();
  double entries = 0, weights = 0;
  for (auto& e : f.tool->DepthBlur().KernelBank) {
    entries += e.empty() ? 0 : 1;
    weights += double(e.size());
  }
  state.counters["bank_size"] = double(f.tool->DepthBlur().KernelBank.size());
  state.counters["built"] = entries;
  state.counters["MB"] = weights * 4 / 1e6;
}
BENCHMARK(FrameBank)->Arg(1)->Arg(25)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
