// The blur pass against the straightforward reference (one thread, no locks,
// four copies per point) over exactly the same points, in one run:
//   build/bin/blur_pass_bench [--benchmark_filter=...]
// Every benchmark reports kernel taps per second; the table at the end gives
// the ratio of the blur pass to the reference for each frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "tests/support/prepared_frame.h"

namespace {

using testing_support::Controls;
using testing_support::PreparedFrame;

struct Case {
  std::string name;
  int w, h;
  std::function<Image*()> scene;
  Controls controls;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int side : {1, 3, 7, 21, 41}) {
    Controls c{{"AlphaPatcher", 0}};
    if (side > 1) c = {{"EnableDepth", 1}, {"MaxBlurSize", testing_support::MaxBlurForSide(side, 960)}};
    cases.push_back({"still/side:" + std::to_string(side), 960, 540, [] { return testing_support::FlatScene(960, 540, 1, 0, 0); }, c});
  }
  for (int side : {1, 7}) {
    Controls c;
    if (side > 1) c = {{"EnableDepth", 1}, {"MaxBlurSize", testing_support::MaxBlurForSide(side, 960)}};
    cases.push_back({"streak20/side:" + std::to_string(side), 960, 540,
                     [] { return testing_support::FlatScene(960, 540, 1, 20, 0); }, c});
  }
  auto shot = [](float lo, float hi) { return [=] { return testing_support::ShotScene(1920, 1080, lo, hi); }; };
  cases.push_back({"scene/still", 1920, 1080, shot(0, 0), {}});
  cases.push_back({"scene/motion", 1920, 1080, shot(5, 40), {}});
  cases.push_back({"scene/depth-default", 1920, 1080, shot(0, 0), {{"EnableDepth", 1}, {"FocusPosition", 0.5}}});
  cases.push_back({"scene/depth-5pct", 1920, 1080, shot(0, 0),
                   {{"EnableDepth", 1}, {"FocusPosition", 0.5}, {"MaxBlurSize", 5}}});
  cases.push_back({"scene/both", 1920, 1080, shot(5, 40), {{"EnableDepth", 1}, {"FocusPosition", 0.5}}});
  return cases;
}

// Frames are prepared once and shared by the two benchmarks of a case.
PreparedFrame& Frame(const Case& c) {
  static std::map<std::string, std::unique_ptr<PreparedFrame>> frames;
  auto& f = frames[c.name];
  if (!f) {
    Image* img = c.scene();
    f = std::make_unique<PreparedFrame>(img, c.controls);
    img->Recycle();
  }
  return *f;
}

void Run(benchmark::State& state, const Case& c, bool reference) {
  PreparedFrame& f = Frame(c);
  for (auto _ : state) {
    state.PauseTiming();
    f.ClearAccumulation();
    state.ResumeTiming();
    if (reference)
      f.ReferencePass();
    else
      f.BlurPass();
  }
  state.counters["taps/s"] = benchmark::Counter(f.taps * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["samples"] = double(f.samples);
}

// Collects taps per second by benchmark name for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark.
    for (const Run& r : runs) {
      auto it = r.counters.find("taps/s");
      if (it == r.counters.end()) continue;
      std::string name = r.benchmark_name();
      const std::string median = "_median";
      if (name.size() > median.size() && name.compare(name.size() - median.size(), median.size(), median) == 0)
        name.resize(name.size() - median.size());
      else if (r.run_type == Run::RT_Aggregate)
        continue;
      rates[name] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("QUORVEX_BENCH_THREADS");
  const int threads = env ? std::atoi(env) : 2;
  SetHostThreads(threads);
  static const std::vector<Case> cases = Cases();
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(("reference/" + c.name).c_str(), [&c](benchmark::State& s) { Run(s, c, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("blur_pass/" + c.name).c_str(), [&c](benchmark::State& s) { Run(s, c, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-24s %16s %16s %8s   (%d worker threads)\n", "frame", "reference taps/s", "blur pass taps/s",
              "ratio", threads);
  for (const Case& c : cases) {
    auto r = reporter.rates.find("reference/" + c.name + "/real_time");
    auto b = reporter.rates.find("blur_pass/" + c.name + "/real_time");
    if (r == reporter.rates.end() || b == reporter.rates.end()) continue;
    std::printf("%-24s %16.3e %16.3e %8.2f\n", c.name.c_str(), r->second, b->second, b->second / r->second);
  }
  benchmark::Shutdown();
  return 0;
}
