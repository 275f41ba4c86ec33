#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/comp_file.h"
#include "app/usage_error.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
std::string Apply(Quorvex* q, const std::string& text) {
  for (const ControlEdit& e : comp_file::Parse(text, "t.comp", *q)) ApplyEdit(*q, e, nullptr);
  return comp_file::Serialize(*q);
}
}  // namespace

using CompFile = ToolTest;

TEST_F(CompFile, RoundTripsExactly) {
  Quorvex* a = q;
  for (auto [id, v] : std::vector<std::pair<const char*, double>>{
           {"EnableDepth", 1}, {"SettingsType", 1}, {"ApertureDiameter", 3}, {"FStop", 2.3}, {"ScaleVelocityLocked", 0},
           {"Scale Velocity Y", 0.1}, {"AlphaPatcher", 0.0123456789012345}, {"BlurStyle", 1}})
    a->FindInput(id)->Edit(v);
  a->FindInput("FocusPosition")->EditKeys({{1, 800}, {24, 2500.125}});
  const std::string saved = comp_file::Serialize(*a);
  Quorvex* b = f.Create(&c.doc);
  EXPECT_EQ(Apply(b, saved), saved);
  EXPECT_EQ(b->FindInput("FStop")->ValueAt(0), 2.3);
  EXPECT_EQ(b->FindInput("FocusPosition")->ValueAt(12.5), a->FindInput("FocusPosition")->ValueAt(12.5));
  EXPECT_TRUE(b->FindInput("Scale Velocity Y")->Visible()) << "loading runs the controls' interplay";
  b->Recycle();
}

TEST_F(CompFile, MalformedOrUnknownContentIsAClearError) {
  auto error = [&](const std::string& text) {
    try {
      comp_file::Parse(text, "shot.comp", *q);
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::pair<const char*, const char*> cases[] = {
      {"{\"format\": \"quorvex-comp\", \"controls\": {", "shot.comp: not a valid comp file"},
      {"[1, 2]", "not a comp file"},
      {R"({"format": "quorvex-comp", "controls": {"FocalLenght": 50}})", "did you mean \"FocalLength\""},
      {R"({"format": "quorvex-comp", "controls": {"FStop": "wide"}})", "needs a number"},
      {R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": [[1]]}}})", "[frame, value]"},
      {R"({"format": "quorvex-comp", "tool": "other.Tool", "controls": {}})", "not \"tessalyworks.Quorvex\""},
      {R"({"format": "quorvex-comp", "version": 9, "controls": {}})", "not one this program reads"},
      // Values of unexpected types anywhere (found by fuzzing: they used to escape the reader).
      {R"({"format": {"EnableDepth": 1}})", "not a comp file"},
      {R"({"format": "quorvex-comp", "version": 1e30, "controls": {}})", "shot.comp"},
      {R"({"format": "quorvex-comp", "controls": {"FStop": 1e999}})", "not a valid comp file"},
      {R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": [["a", 1]]}}})", "needs a number"},
  };
  for (const auto& [text, message] : cases) EXPECT_NE(error(text).find(message), std::string::npos) << text;
}

TEST_F(CompFile, SavingReplacesTheFileOnlyWhenComplete) {
  const TempDir t;
  const std::string path = t.P("a.comp");
  comp_file::Save(path, *q);
  EXPECT_EQ(comp_file::Load(path, *q).size(), 28u) << "every numeric and text control but the Info page's";
  EXPECT_EQ(comp_file::Serialize(*q).find("DocUrl"), std::string::npos);
  EXPECT_THROW(comp_file::Save(t.P("missing/b.comp"), *q), std::exception);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.dir), {}), 1) << "no temporary file left behind";
}
