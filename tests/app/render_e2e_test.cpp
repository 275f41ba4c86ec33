// Runs the real quorvex-render binary as a user would.
#include <regex>

#include "tests/app/e2e_support.h"

using namespace e2e;

TEST_F(Render, ListsTheToolAndItsControls) {
  Result t = RunRender({"--list-tools"});
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.output, "tessalyworks.Quorvex\tQuorvex\tLumora\tQrvx\tSimulates depth of field and motion blurring\n");
  Result c = RunRender({"--list-controls", "--set", "ScaleVelocityLocked=off", "--set", "Scale Velocity=2.5"});
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(std::count(c.output.begin(), c.output.end(), '\n'), 36);
  EXPECT_NE(c.output.find("Motion Blur\tScale Velocity\tScale Velocity X\t2.5\tshown\n"), std::string::npos) << c.output;
  EXPECT_NE(c.output.find("Motion Blur\tScale Velocity Y\tScale Velocity Y\t1\tshown\n"), std::string::npos);
  Result d = RunRender({"--list-controls"});
  EXPECT_NE(d.output.find("Motion Blur\tScale Velocity Y\tScale Velocity Y\t1\thidden\n"), std::string::npos);
  Result r = RunRender({"--list-controls", "--long"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output.rfind("page\tidentifier\tname\tkind\tvalue\taccepted\tslider\tbuttons\tshown\n", 0), 0u) << r.output;
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 37) << "a header and a row per control";
  EXPECT_TRUE(Has(r.output, "\nMotion Blur\tEdgeCondition\tEdges\tbuttons\t0\t0 .. 2\t-\tDuplicate|Black|Mirror\tshown\n"))
      << r.output;
  EXPECT_TRUE(Has(r.output, "\nDepth Blur\tFStop\tF-Stop\tnumber\t2\t1 .. inf\t1 .. 100\t-\thidden\n")) << r.output;
  EXPECT_TRUE(Has(r.output, "\n(image)\tInput\t")) << r.output;
  Result help = RunRender({"--help"});
  EXPECT_TRUE(Has(help.output, "Examples:\n  quorvex-render -i shot.exr")) << help.output;
  EXPECT_TRUE(Has(help.output, "Exit status: 0 all frames written; 1 a frame failed")) << help.output;
}

TEST_F(Render, TheBundledExampleRenders) {
  Result r = RunRender({"--input", std::string(QUORVEX_SOURCE_DIR) + "/examples/scene.exr", "--output", P("out/example.exr"),
                  "--preview", P("out/example.png"), "--comp", std::string(QUORVEX_SOURCE_DIR) + "/examples/example.comp"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Lumora Quorvex processing time: "), std::string::npos);
  Read out = ReadExr(P("out/example.exr"));
  EXPECT_EQ(out.names, (std::vector<std::string>{"R", "G", "B", "A", "Z", "VectX", "VectY"}));
  EXPECT_EQ(out.types[0], kHalf) << "half stays half";
  EXPECT_TRUE(fs::exists(P("out/example.png")));
}

TEST_F(Render, HalfFloatRoundTripOfAStillFrame) {
  Scene(P("in.exr"));
  Result r = RunRender({"-i", P("in.exr"), "-o", P("out.exr"), "--set", "AlphaPatcher=0", "--set", "Scale Velocity=0",
                  "--quiet"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "") << "--quiet silences the information lines";
  Read in = ReadExr(P("in.exr")), out = ReadExr(P("out.exr"));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(in.At(x, y, "R"), out.At(x, y, "R"));
      EXPECT_EQ(in.At(x, y, "G"), out.At(x, y, "G"));
    }
  EXPECT_EQ(out.types, (std::vector<OIIO::TypeDesc>{kHalf, kHalf, kHalf, kHalf, kFloat, kFloat, kFloat}));
  ASSERT_EQ(RunRender({"-i", P("in.exr"), "-o", P("f.exr"), "--data-type", "float", "-q"}).status, 0);
  EXPECT_EQ(ReadExr(P("f.exr")).types[0], kFloat);
}

TEST_F(Render, MultiPartFileWithLayerPrefixedNamesAndAMappedChannel) {
  auto square = [](int x, int y) { return x >= 5 && x < 10 && y >= 4 && y < 8 ? 1.0f : 0.2f; };
  WriteExr(P("multi.exr"), 16, 12,
           {{{"R", kHalf, square}, {"G", kHalf, square}, {"B", kHalf, square}, {"A", kHalf, [](int, int) { return 1.0f; }}},
            {{"ViewLayer.Depth.Z", kFloat, [](int x, int) { return 800.0f + 100.0f * float(x); }},
             {"mv.x", kFloat, [](int x, int) { return x > 7 ? 5.0f : 0.0f; }},
             {"mv.y", kFloat, [](int, int) { return 0.0f; }}}},
           {"rgba", "ViewLayer"});
  Result r = RunRender({"-i", P("multi.exr"), "-o", P("out.exr"), "--channels", "VectX=mv.x,VectY=mv.y", "--set",
                  "EnableDepth=1", "--set", "SettingsType=Advanced", "--set", "FocusPosition=1000"});
  ASSERT_EQ(r.status, 0) << r.output;
  Read out = ReadExr(P("out.exr")), layer = ReadExr(P("out.exr"), 1);
  EXPECT_EQ(layer.At(3, 2, "ViewLayer.Depth.Z"), 1100.0f) << "depth found under its layer name and kept in its part";
  EXPECT_EQ(layer.At(9, 2, "mv.x"), 5.0f);
  EXPECT_NE(out.At(10, 5, "R"), 0.2f) << "the moving square smears";
  Result missing = RunRender({"-i", P("multi.exr"), "-o", P("o2.exr"), "--channels", "Z=nothere"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("channel \"nothere\" (mapped to Z) is not there; it has R, G, B, A, ViewLayer.Depth.Z"),
            std::string::npos)
      << missing.output;
}

TEST_F(Render, SequenceWithAKeyframedFocusPull) {
  for (int f = 1; f <= 3; ++f) Scene(P("in." + std::to_string(f) + ".exr"));
  std::ofstream(P("pull.comp")) << R"({"format": "quorvex-comp", "controls": {
      "EnableDepth": 1, "SettingsType": 1, "FocalLength": 200, "FocusPosition": {"keys": [[1, 700], [3, 3500]]}}})";
  Result r = RunRender(
      {"-i", P("in.%d.exr"), "-o", P("out.####.exr"), "--frames", "1-3", "--comp", P("pull.comp"), "-q", "--stats"});
  ASSERT_EQ(r.status, 0) << r.output;
  for (int f = 1; f <= 3; ++f)
    EXPECT_TRUE(std::regex_search(r.output, std::regex("frame " + std::to_string(f) +
                                                       ": read [0-9]+ ms, render [0-9]+ ms, write [0-9]+ ms")))
        << "--stats times every frame, even with -q: " << r.output;
  Read a = ReadExr(P("out.0001.exr")), c = ReadExr(P("out.0003.exr"));
  ASSERT_EQ(a.w, 16);
  // Near pixels are sharp at the start of the pull and soft at its end.
  EXPECT_NE(a.At(1, 1, "G"), c.At(1, 1, "G"));
  EXPECT_TRUE(fs::exists(P("out.0002.exr")));
}

TEST_F(Render, AFailedFrameLeavesNoFileAndKeepsTheOldOne) {
  Scene(P("in.exr"));
  WriteExr(P("small.exr"), 8, 8,
           {{{"VectX", kFloat, Const(1)}, {"VectY", kFloat, Const(1)}, {"R", kFloat, Const(0)}, {"G", kFloat, Const(0)},
             {"B", kFloat, Const(0)}}});
  std::ofstream(P("o.exr")) << "keep";
  Result r = RunRender({"-i", P("in.exr"), "-o", P("o.exr"), "--motion", P("small.exr")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Quorvex error: Input and velocity image dimensions are not the same.\n"), std::string::npos)
      << r.output;
  EXPECT_EQ(Slurp(P("o.exr")), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 3) << "no temporary file left behind";
}

TEST_F(Render, ModulesInTheCurrentFolderAreNeverLoaded) {
  std::ofstream(P("quorvex.so")) << "not a module";
  const Result r = RunRender({"--list-tools"}, "cd " + Quote(dir.string()) + " && ");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.rfind("tessalyworks.Quorvex\t", 0), 0u) << r.output;
}

TEST_F(Render, InterruptCancelsAndKeepsFinishedFrames) {
  const std::string scene = std::string(QUORVEX_SOURCE_DIR) + "/examples/scene.exr";
  const std::string cmd = Quote(QUORVEX_RENDER_BIN) + " -i " + Quote(scene) + " -o " + Quote(P("seq.####.exr")) +
                          " --frames 1-400 --comp " + Quote(std::string(QUORVEX_SOURCE_DIR) + "/examples/example.comp") +
                          " -q > " + Quote(P("log.txt")) + " 2>&1 & pid=$!; " +
                          "for i in $(seq 1200); do [ -e " + Quote(P("seq.0001.exr")) + " ] && break; sleep 0.1; done; " +
                          "kill -INT $pid; wait $pid";
  const int rc = std::system(("bash -c " + Quote(cmd)).c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 130);
  const std::string text = Slurp(P("log.txt"));
  EXPECT_NE(text.find("cancelled at frame"), std::string::npos) << text;
  int finished = 0;
  for (auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << "a partial file was left: " << name;
    if (name.rfind("seq.", 0) == 0) {
      ++finished;
      EXPECT_EQ(ReadExr(e.path().string()).w, 480) << name;
    }
  }
  EXPECT_GT(finished, 0);
  EXPECT_LT(finished, 400);
}
