// The bundled example through quorvex-render at every instruction-set level
// agrees with the best level's render within float rounding, and an unknown
// or unavailable level is a usage error.
#include <cmath>

#include "host/SimdLevel.h"
#include "tests/app/e2e_support.h"

using namespace e2e;

namespace {
Result RenderAt(const std::string& level, const std::vector<std::string>& args) {
  return RunRender(args, "QUORVEX_SIMD=" + Quote(level) + " ");
}
}  // namespace

TEST_F(Render, EveryLevelRendersTheExampleAsTheBestLevelDoes) {
  const std::string scene = std::string(QUORVEX_SOURCE_DIR) + "/examples/scene.exr";
  const std::string comp = std::string(QUORVEX_SOURCE_DIR) + "/examples/example.comp";
  auto render = [&](const std::string& level) {
    const std::string out = P(level + ".exr");
    const Result r = RenderAt(level, {"-i", scene, "--comp", comp, "-o", out, "--data-type", "float", "-q"});
    EXPECT_EQ(r.status, 0) << level << ": " << r.output;
    return ReadExr(out);
  };
  const Read best = render("best");
  ASSERT_GT(best.w, 0);
  float largest = 0;
  for (float v : best.px) largest = std::max(largest, std::fabs(v));
  for (const std::string& level : AvailableSimdLevels()) {
    const Read got = render(level);
    ASSERT_EQ(got.px.size(), best.px.size()) << level;
    size_t bad = 0;
    for (size_t i = 0; i < got.px.size(); ++i)
      if (!(std::fabs(got.px[i] - best.px[i]) <= 1e-5f * std::fabs(best.px[i]) + 1e-7f * largest)) ++bad;
    EXPECT_EQ(bad, 0u) << level << " differs from the best level in " << bad << " values";
  }
}

TEST_F(Render, AnUnknownOrUnavailableLevelIsAUsageError) {
  for (const char* level : {"avx1024", "neon", ""}) {
    const Result r = RenderAt(level, {"--version"});
    if (std::string(level).empty()) {
      EXPECT_EQ(r.status, 0) << "unset means best";
      continue;
    }
    EXPECT_EQ(r.status, 2) << level << ": " << r.output;
    EXPECT_NE(r.output.find("QUORVEX_SIMD"), std::string::npos) << r.output;
  }
  const Result v = RenderAt("scalar", {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.output.find("scalar"), std::string::npos) << v.output;
}
