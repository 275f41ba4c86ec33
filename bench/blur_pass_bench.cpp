// The blur pass at every instruction-set level the machine runs, against
// the straightforward reference (one thread, four copies per point, sums in
// double) over exactly the same points, in one run:
//   build/bin/blur_pass_bench [--benchmark_filter=...]
// Every benchmark reports kernel taps per second; the tables at the end give
// each level's rate and its ratio to the reference for each frame.
// Frames whose blur grows (sides up to 201) run at the best level only,
// against the route before span kernels (every kernel tap by tap) instead
// of the straightforward pass, which would take minutes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "host/SimdLevel.h"
#include "tests/support/prepared_frame.h"

namespace {

using testing_support::Controls;
using testing_support::PreparedFrame;

struct Case {
  std::string name;
  int w, h;
  std::function<Image*()> scene;
  Controls controls;
  bool growth = false;  // against the tap route, at the best level only
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
  for (int side : {15, 17, 21, 41, 101, 201})
    cases.push_back({"growth/still/side:" + std::to_string(side), 1920, 1080,
                     [] { return testing_support::FlatScene(1920, 1080, 1, 0, 0); },
                     {{"EnableDepth", 1}, {"MaxBlurSize", testing_support::MaxBlurForSide(side, 1920)}}, true});
  // Streaks along x under span kernels (boxes), a quarter of the frame.
  for (int side : {41, 101})
    cases.push_back({"growth/streak-x40/side:" + std::to_string(side), 960, 540,
                     [] { return testing_support::FlatScene(960, 540, 1, 40, 0); },
                     {{"EnableDepth", 1}, {"MaxBlurSize", testing_support::MaxBlurForSide(side, 960)}}, true});
  // Streaks that no neighbour shares (walked one by one), as in real renders.
  for (int side : {21, 41, 101, 201})
    cases.push_back({"growth/scattered-motion12/side:" + std::to_string(side), 960, 135,
                     [] { return testing_support::ScatteredMotionScene(960, 135, 1, 12); },
                     {{"EnableDepth", 1}, {"MaxBlurSize", testing_support::MaxBlurForSide(side, 960)}}, true});
  for (float motion : {0.0f, 40.0f})
    for (int percent : {1, 5, 10, 25})
      cases.push_back({"growth/scene/" + std::string(motion > 0 ? "motion40/" : "still/") + std::to_string(percent) + "pct",
                       1920, 1080, shot(motion, motion),
                       {{"EnableDepth", 1}, {"FocusPosition", 0.5}, {"MaxBlurSize", double(percent)}}, true});
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

// `level` empty: the reference (the straightforward pass, or for growth
// frames the tap route at the best level).
void Run(benchmark::State& state, const Case& c, const std::string& level) {
  const bool reference = level.empty();
  SetSimdLevel(reference ? "best" : level);
  PreparedFrame& f = Frame(c);
  for (auto _ : state) {
    state.PauseTiming();
    f.ClearAccumulation();
    state.ResumeTiming();
    if (reference && c.growth)
      f.BlurPass(false);
    else if (reference)
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
      times[name] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates, times;
};

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("QUORVEX_BENCH_THREADS");
  const int threads = env ? std::atoi(env) : 2;
  SetHostThreads(threads);
  static const std::vector<Case> cases = Cases();
  static const std::vector<std::string> levels = AvailableSimdLevels();
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(((c.growth ? "taps/" : "reference/") + c.name).c_str(),
                                 [&c](benchmark::State& s) { Run(s, c, ""); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    if (c.growth) {
      const std::string& best = levels.front();
      benchmark::RegisterBenchmark(("blur_pass/" + best + "/" + c.name).c_str(),
                                   [&c, &best](benchmark::State& s) { Run(s, c, best); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
      continue;
    }
    for (const std::string& level : levels)
      benchmark::RegisterBenchmark(("blur_pass/" + level + "/" + c.name).c_str(),
                                   [&c, &level](benchmark::State& s) { Run(s, c, level); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\ntaps per second (%d worker threads)\n%-24s %12s", threads, "frame", "reference");
  for (const std::string& level : levels) std::printf(" %12s", level.c_str());
  std::printf("   best/reference\n");
  for (const Case& c : cases) {
    if (c.growth) continue;
    auto rate = [&](const std::string& name) {
      auto it = reporter.rates.find(name + "/" + c.name + "/real_time");
      return it == reporter.rates.end() ? 0.0 : it->second;
    };
    const double ref = rate("reference");
    std::printf("%-24s %12.3e", c.name.c_str(), ref);
    for (const std::string& level : levels) std::printf(" %12.3e", rate("blur_pass/" + level));
    const double best = rate("blur_pass/" + levels.front());
    std::printf("   %8.2f\n", ref > 0 ? best / ref : 0.0);
  }
  std::printf("\nmilliseconds per pass, %s, against the tap route (%d worker threads)\n%-28s %10s %10s %8s\n",
              levels.front().c_str(), threads, "frame", "taps", "spans", "speed-up");
  for (const Case& c : cases) {
    if (!c.growth) continue;
    auto time = [&](const std::string& name) {
      auto it = reporter.times.find(name + "/" + c.name + "/real_time");
      return it == reporter.times.end() ? 0.0 : it->second;
    };
    const double taps = time("taps"), spans = time("blur_pass/" + levels.front());
    if (taps > 0 && spans > 0) std::printf("%-28s %10.1f %10.1f %8.2f\n", c.name.c_str(), taps, spans, taps / spans);
  }
  SetSimdLevel("best");
  benchmark::Shutdown();
  return 0;
}
