// Renderer passes in their own conventions give the same frame as the same
// scene written in the tool's convention.
#include "tests/app/e2e_support.h"

using namespace e2e;

namespace {

constexpr int kW = 16, kH = 12;
bool Square(int x, int y) { return x >= 5 && x < 10 && y >= 4 && y < 8; }
float Red(int x, int y) { return Square(x, y) ? 1.0f : 0.25f; }
float Green(int x, int y) { return 0.125f * float((x + y) % 4); }
float Depth(int x, int) { return x < 8 ? 512.0f : 2048.0f; }
float Vx(int x, int y) { return Square(x, y) ? 6.0f : 0.0f; }
float Vy(int x, int y) { return Square(x, y) ? 3.0f : 0.0f; }

class Conventions : public Render {
 protected:
  // The scene in the tool's own convention, rendered with depth on.
  void SetUp() override {
    WriteExr(P("truth.exr"), kW, kH,
             {{{"R", kFloat, Red}, {"G", kFloat, Green}, {"B", kFloat, Green}, {"A", kFloat, [](int, int) { return 1.0f; }},
               {"Z", kFloat, Depth}, {"VectX", kFloat, Vx}, {"VectY", kFloat, Vy}}});
    const Result r = RunRender(With({"-i", P("truth.exr"), "-o", P("truth.out.exr")}));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::vector<std::string> With(std::vector<std::string> args) {
    for (const char* a : {"--set", "EnableDepth=1", "--set", "SettingsType=Advanced", "--set", "FocusPosition=512",
                          "--set", "FocalLength=200", "-q"})
      args.push_back(a);
    return args;
  }
  // Colour only: the conventions' own channels differ by design.
  void ExpectSameColour(const std::string& out, const std::string& layer = "") {
    Read a = ReadExr(P("truth.out.exr")), b = ReadExr(out);
    ASSERT_EQ(b.w, kW);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (const char* c : {"R", "G", "A"})
          EXPECT_EQ(a.At(x, y, c), b.At(x, y, layer + c)) << x << "," << y << " " << c;
  }
  std::vector<Channel> Colour(const std::string& layer = "") {
    return {{layer + "R", kFloat, Red}, {layer + "G", kFloat, Green}, {layer + "B", kFloat, Green},
            {layer + "A", kFloat, [](int, int) { return 1.0f; }}};
  }
};

}  // namespace

TEST_F(Conventions, EveryConventionGivesTheToolsOwnColour) {
  struct Case {
    std::string what, layer;  // layer: the colour channels' prefix
    std::vector<Channel> passes;
    std::vector<std::string> args;
  };
  auto minus = [](float (*f)(int, int), float d) { return [f, d](int x, int y) { return d - f(x, y); }; };
  auto over = [](float (*f)(int, int), float k) { return [f, k](int x, int y) { return f(x, y) / k; }; };
  const std::vector<Case> cases{
      // X, Y towards the previous frame, Z, W from the next: -(X + Z) / 2 is the motion.
      {"Blender multilayer, no channel map", "ViewLayer.Combined.",
       {{"ViewLayer.Depth.Z", kFloat, Depth}, {"ViewLayer.Vector.X", kFloat, minus(Vx, 0.5f)},
        {"ViewLayer.Vector.Y", kFloat, minus(Vy, -0.25f)}, {"ViewLayer.Vector.Z", kFloat, minus(Vx, -0.5f)},
        {"ViewLayer.Vector.W", kFloat, minus(Vy, 0.25f)}},
       {"--vectors", "blender"}},
      {"forward", "", {{"Z", kFloat, Depth}, {"forward.u", kFloat, Vx}, {"forward.v", kFloat, Vy}}, {"--vectors", "forward"}},
      {"backward", "", {{"Z", kFloat, Depth}, {"backward.u", kFloat, Vx}, {"backward.v", kFloat, Vy}}, {"--vectors", "backward"}},
      {"forward flipped", "", {{"Z", kFloat, Depth}, {"forward.u", kFloat, Vx}, {"forward.v", kFloat, minus(Vy, 0)}},
       {"--vectors", "forward", "--vectors-flip-y"}},
      {"ndc", "", {{"Z", kFloat, Depth}, {"VectX", kFloat, over(Vx, kW)}, {"VectY", kFloat, over(Vy, kH)}},
       {"--vectors", "ndc"}},
      {"scaled pixels", "", {{"Z", kFloat, Depth}, {"VectX", kFloat, over(Vx, 0.5f)}, {"VectY", kFloat, over(Vy, 0.5f)}},
       {"--vectors", "pixels", "--vectors-scale", "0.5"}},
      {"inverse depth", "", {{"depth.Z", kFloat, [](int x, int y) { return 1.0f / Depth(x, y); }}, {"VectX", kFloat, Vx},
                             {"VectY", kFloat, Vy}}, {"--depth-mode", "inverse"}},
      {"depth in metres", "", {{"Z", kFloat, over(Depth, 1024)}, {"VectX", kFloat, Vx}, {"VectY", kFloat, Vy}},
       {"--depth-scale", "1024"}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    std::vector<Channel> ch = Colour(c.layer);
    ch.insert(ch.end(), c.passes.begin(), c.passes.end());
    const std::string in = P("c" + std::to_string(i) + ".exr"), out = P("o" + std::to_string(i) + ".exr");
    WriteExr(in, kW, kH, {ch});
    std::vector<std::string> args = With({"-i", in, "-o", out});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = RunRender(args);
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectSameColour(out, c.layer);
  }
  Read blender = ReadExr(P("o0.exr"));
  EXPECT_EQ(blender.At(6, 5, "VectX"), 6.0f);
  EXPECT_EQ(blender.At(6, 5, "ViewLayer.Vector.X"), -5.5f) << "the source channels are kept";
  const Result missing = RunRender(With({"-i", P("truth.exr"), "-o", P("m.exr"), "--vectors", "blender"}));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("needs a channel \"Vector.X\""), std::string::npos) << missing.output;
}

TEST_F(Conventions, FocusAtPicksTheDepthUnderThePixel) {
  const Result r = RunRender(
      {"-i", P("truth.exr"), "-o", P("f.exr"), "--set", "EnableDepth=1", "--set", "SettingsType=Advanced", "--set",
       "FocalLength=200", "--focus-at", "12,3"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("frame 1: focus at (12,3) = 2048"), std::string::npos) << r.output;
  const Result bad = RunRender({"-i", P("truth.exr"), "-o", P("g.exr"), "--focus-at", "99,3"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.output.find("lies outside the 16 x 12 depth pass"), std::string::npos);
}
