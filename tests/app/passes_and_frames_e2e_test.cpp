// Passes in their own files, frame lists and discovered frames, and
// warnings about settings without effect.
#include "tests/app/e2e_support.h"

using namespace e2e;

TEST_F(Render, PassesInTheirOwnFilesNeedOnlyTheirChannels) {
  auto square = [](int x, int y) { return x >= 5 && x < 10 && y >= 4 && y < 8 ? 1.0f : 0.2f; };
  WriteExr(P("beauty.exr"), 16, 12, {{{"R", kHalf, square}, {"G", kHalf, square}, {"B", kHalf, square}, {"A", kHalf, Const(1)}}});
  WriteExr(P("depth.exr"), 16, 12, {{{"Z", kFloat, [](int x, int) { return 500.0f + 300.0f * float(x); }}}});
  WriteExr(P("depth-r.exr"), 16, 12, {{{"depth.R", kFloat, [](int x, int) { return 500.0f + 300.0f * float(x); }}}});
  WriteExr(P("vectors.exr"), 16, 12,
           {{{"mv.r", kFloat, [=](int x, int y) { return square(x, y) > 0.5f ? 6.0f : 0.0f; }}, {"mv.g", kFloat, Const(0)}}});
  const std::vector<std::string> depth_on{"--set", "EnableDepth=1", "--set", "SettingsType=Advanced", "--set",
                                          "FocusPosition=600", "--set", "FocalLength=200", "-q"};
  struct Case {
    std::string what;
    std::vector<std::string> args;
    std::string channel;  // written from the pass
  };
  const std::vector<Case> cases{
      {"a depth-only file", {"--depth", P("depth.exr")}, "Z"},
      {"a depth file mapped by file", {"--depth", P("depth-r.exr"), "--channels", "depth:Z=depth.R"}, "Z"},
      {"a vectors-only file mapped by file", {"--motion", P("vectors.exr"), "--channels", "motion:VectX=mv.r,VectY=mv.g"}, "VectX"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"-i", P("beauty.exr"), "-o", P("out.exr")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.channel == "Z") args.insert(args.end(), depth_on.begin(), depth_on.end());
    Result r = RunRender(args);
    ASSERT_EQ(r.status, 0) << r.output;
    Read in = ReadExr(P("beauty.exr")), out = ReadExr(P("out.exr"));
    float changed = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) changed = std::max(changed, std::fabs(out.At(x, y, "R") - in.At(x, y, "R")));
    EXPECT_GT(changed, 0.05f) << "the pass blurred the frame";
    EXPECT_EQ(std::count(out.names.begin(), out.names.end(), c.channel), 1);
  }
  // An unqualified mapping still applies to every file; a missing pass channel says how to map it.
  Result missing = RunRender({"-i", P("beauty.exr"), "-o", P("m.exr"), "--depth", P("depth-r.exr"), "--set",
                              "EnableDepth=1"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(Has(missing.output, "it has depth.R); map one with --channels depth:Z=NAME")) << missing.output;
  Result every = RunRender({"-i", P("beauty.exr"), "-o", P("m.exr"), "--depth", P("depth-r.exr"), "--channels", "Z=depth.R"});
  EXPECT_EQ(every.status, 2) << "the input has no depth.R either";
  EXPECT_TRUE(Has(every.output, "channel \"depth.R\" (mapped to Z) is not there")) << every.output;
  EXPECT_EQ(RunRender({"-i", P("beauty.exr"), "-o", P("m.exr"), "--channels", "lens:Z=a"}).status, 2);
}

TEST_F(Render, FrameListsAndFramesFoundOnDisk) {
  for (int f : {1, 2, 4, 10}) Scene(P("in." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".exr"));
  Scene(P("in.5.exr"));  // not of the pattern's width
  Result found = RunRender({"-i", P("in.####.exr"), "-o", P("out/o.####.exr")});
  ASSERT_EQ(found.status, 0) << found.output;
  EXPECT_TRUE(Has(found.output, "found frames 1-2, 4, 10 of " + P("in.####.exr") + "; missing (skipped): 3, 5-9"))
      << found.output;
  std::vector<std::string> written;
  for (auto& e : fs::directory_iterator(P("out"))) written.push_back(e.path().filename().string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"o.0001.exr", "o.0002.exr", "o.0004.exr", "o.0010.exr"}));
  Result list = RunRender({"-i", P("in.####.exr"), "-o", P("l/o.####.exr"), "--frames", "4,1-2x1,4", "-q"});
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_EQ(std::distance(fs::directory_iterator(P("l")), {}), 3);
  Result none = RunRender({"-i", P("nothing.####.exr"), "-o", P("n.####.exr")});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(Has(none.output, "no frames of")) << none.output;
}

// Settings that would do nothing say so, once per command; a sound command
// prints no warning.
TEST_F(Render, SettingsWithoutEffectWarnOncePerCommand) {
  for (int f = 1; f <= 2; ++f) Scene(P("in." + std::to_string(f) + ".exr"));
  auto layer = [](int, int) { return 0.5f; };
  WriteExr(P("blender.exr"), 16, 12,
           {{{"ViewLayer.Combined.R", kHalf, layer}, {"ViewLayer.Combined.G", kHalf, layer},
             {"ViewLayer.Combined.B", kHalf, layer}, {"ViewLayer.Combined.A", kHalf, Const(1)},
             {"ViewLayer.Vector.X", kFloat, Const(1)}, {"ViewLayer.Vector.Y", kFloat, Const(0)},
             {"ViewLayer.Vector.Z", kFloat, Const(-1)}, {"ViewLayer.Vector.W", kFloat, Const(0)}}});
  const std::vector<std::string> seq{"-i", P("in.#.exr"), "-o", P("o.#.exr"), "--frames", "1-2", "-q"};
  struct Case {
    std::vector<std::string> args;
    std::string warning;  // empty: none at all
  };
  const std::vector<Case> cases{
      {{"--set", "Normalize=1"},
       "warning: Normalize was set but has no effect: the tool hides it while EnableDepth is off (it counts with "
       "EnableDepth=on)"},
      {{"--set", "FStop=2"}, "while EnableDepth is off and SettingsType is Simple (it counts with EnableDepth=on and "
                             "SettingsType=Advanced)"},
      {{"--set", "FarDistance=5"},
       "while EnableDepth is off, SettingsType is Simple and DepthMapType is Distance (it counts with EnableDepth=on, "
       "SettingsType=Advanced and DepthMapType=Normalized)"},
      {{"--set", "EnableDepth=1", "--set", "SettingsType=Advanced", "--set", "MaxBlurSize=5"},
       "MaxBlurSize was set but has no effect: the tool hides it while SettingsType is Advanced (it counts with "
       "SettingsType=Simple)"},
      {{"--set", "FocusPosition=1200", "--focus-at", "3,3", "--set", "EnableDepth=1"},
       "warning: --focus-at replaces the FocusPosition that was set"},
      {{"--set", "EnableDepth=1", "--set", "FocusPosition=1200", "--set", "Normalize=on"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = seq;
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = RunRender(args);
    EXPECT_EQ(r.status, 0) << r.output;
    if (c.warning.empty()) {
      EXPECT_FALSE(Has(r.output, "warning")) << r.output;
    } else {
      const size_t at = r.output.find(c.warning);
      EXPECT_NE(at, std::string::npos) << r.output;
      EXPECT_EQ(r.output.find(c.warning, at + 1), std::string::npos) << "once per command, not per frame";
    }
  }
  Result b = RunRender({"-i", P("blender.exr"), "-o", P("b.exr"), "-q"});
  EXPECT_EQ(b.status, 0) << b.output;
  EXPECT_TRUE(Has(b.output, P("blender.exr") + " carries Blender's Vector.X .. Vector.W channels, but no motion is read "
                                               "from them; add --vectors blender"))
      << b.output;
  Result with = RunRender({"-i", P("blender.exr"), "-o", P("b.exr"), "-q", "--vectors", "blender"});
  EXPECT_EQ(with.output, "");
}
