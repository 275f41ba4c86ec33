// A comp the tool wrote loads back silently, to the same values, even where
// the lens relation took "FStop" below its accepted minimum; a value outside
// the range that the tool's rules do not bring back still warns.
#include <fstream>

#include "tests/app/e2e_support.h"

using namespace e2e;

TEST_F(Render, ACompAtAnFStopBelowOneLoadsBackSilently) {
  Result r = RunRender({"--set", "EnableDepth=on", "--set", "SettingsType=Advanced", "--set", "FocalLength=35",
                        "--set", "ApertureDiameter=50", "--save-comp", P("f07.comp")});
  ASSERT_EQ(r.status, 0) << r.output;
  r = RunRender({"--comp", P("f07.comp"), "--list-controls"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("FStop\tF-Stop\t0.699999988079071"), std::string::npos) << r.output;

  std::ofstream(P("typed.comp")) << R"({"format": "quorvex-comp", "version": 1, "tool": "tessalyworks.Quorvex",
    "controls": {"EnableDepth": 1, "SettingsType": 1, "FStop": 0.5}})";
  r = RunRender({"--comp", P("typed.comp"), "--list-controls"});
  EXPECT_NE(r.output.find("warning: FStop = 0.5 is outside its range"), std::string::npos) << r.output;
}
