// Whole frames through Process: the 1920 x 1080 scenes, a corrupt motion
// pass, and how frame time grows with the resolution.
//   build/bin/frame_bench
//   QUORVEX_BENCH_8K=1 build/bin/frame_bench --benchmark_filter=8K   (a 7680 x 4320 frame, peak memory)
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>

#include "tests/support/prepared_frame.h"

namespace {

using namespace testing_support;

void RenderFrames(benchmark::State& state, Image* img, const Controls& controls) {
  ToolFactory factory;
  Console console;
  Quorvex* q = factory.Create(&console.doc);
  for (auto& c : controls) q->FindInput(c.first)->Edit(c.second);
  for (auto _ : state) {
    Image* out = Render(*q, img);
    if (!out) state.SkipWithError(console.Text(CON_Error).c_str());
    else out->Recycle();
  }
  state.counters["Mpixels/s"] =
      benchmark::Counter(double(img->Width) * img->Height * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  img->Recycle();
  q->Recycle();
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  state.counters["peak_RSS_MB"] = double(ru.ru_maxrss) / 1024.0;
}

const Controls kDepth{{"EnableDepth", 1}, {"FocusPosition", 0.5}};

void Scene(benchmark::State& state) {
  const int kind = int(state.range(0));
  const float motion = kind == 1 || kind == 4 ? 40.0f : 0.0f;
  Controls c;
  if (kind >= 2) c = kDepth;
  if (kind == 3) c.push_back({"MaxBlurSize", 5});
  RenderFrames(state, ShotScene(1920, 1080, motion > 0 ? 5.0f : 0.0f, motion), c);
}
BENCHMARK(Scene)->ArgName("still0_motion1_depth2_depth5pct3_both4")->DenseRange(0, 4)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A motion pass holding a billion pixels everywhere.
void CorruptMotion(benchmark::State& state) {
  const Controls c{{"EdgeCondition", double(state.range(0))}};
  Image* img = FlatScene(1920, 1080, 1, 1e9f, 1e9f);
  double taps = 0;
  {
    PreparedFrame frame(img, c);
    taps = frame.taps;
  }
  RenderFrames(state, img, c);
  // Streak points that can land, all added as one-pixel kernels.
  state.counters["Gtaps"] = taps / 1e9;
  state.counters["taps/s"] = benchmark::Counter(taps * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(CorruptMotion)->ArgName("edges")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(1);

// The same with depth of field on and NaN and infinite depth in places: such
// a pass once took 365 s on 2 threads; its samples now stay still.
void CorruptMotionWithDepth(benchmark::State& state) {
  const Controls c{{"EnableDepth", 1}, {"FocusPosition", 0.3}, {"MaxBlurSize", 1}};
  Image* img = testing_support::MakeImage(1920, 1080, [](int x, int y) {
    FltPixel p;
    p.R = p.G = p.B = 0.2f + 0.6f * float((x / 8 + y / 8) % 2);
    p.A = 1.0f;
    p.Z = x % 97 == 0 ? NAN : y % 89 == 0 ? INFINITY : float(x) / 1920.0f;
    p.VectX = p.VectY = 1e9f;
    return p;
  });
  RenderFrames(state, img, c);
}
BENCHMARK(CorruptMotionWithDepth)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(1);

// The same frame with motion of twice the width, so that every streak crosses
// the whole image: what the billion-pixel frame should cost.
void ImageWideMotion(benchmark::State& state) {
  const Controls c{{"EdgeCondition", double(state.range(0))}};
  Image* img = FlatScene(1920, 1080, 1, 3840, 3840);
  RenderFrames(state, img, c);
}
BENCHMARK(ImageWideMotion)->ArgName("edges")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(1);

// Frame time from 960 x 540 to 3840 x 2160 at a fixed blur in percent of the width.
void Resolution(benchmark::State& state) {
  const int w = int(state.range(0)), h = w * 9 / 16;
  Controls c = kDepth;
  c.push_back({"Scale Velocity", double(w) / 1920.0});
  RenderFrames(state, ShotScene(w, h, 5, 40), c);
}
BENCHMARK(Resolution)->Arg(960)->Arg(1920)->Arg(3840)->Unit(benchmark::kMillisecond)->UseRealTime();

void Frame8K(benchmark::State& state) {
  if (!std::getenv("QUORVEX_BENCH_8K")) {
    state.SkipWithError("set QUORVEX_BENCH_8K=1 to render a 7680 x 4320 frame");
    return;
  }
  Controls c = kDepth;
  c.push_back({"Scale Velocity", 4});
  RenderFrames(state, ShotScene(7680, 4320, 5, 40), c);
}
BENCHMARK(Frame8K)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  SetHostThreads(2);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
