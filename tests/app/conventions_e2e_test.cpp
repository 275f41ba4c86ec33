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
    Render::SetUp();
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

TEST_F(Conventions, BlenderMultilayerVectorsWithoutAChannelMap) {
  // X, Y towards the previous frame, Z, W from the next: -(X + Z) / 2 is the motion.
  std::vector<Channel> layer = Colour("ViewLayer.Combined.");
  layer.push_back({"ViewLayer.Depth.Z", kFloat, Depth});
  layer.push_back({"ViewLayer.Vector.X", kFloat, [](int x, int y) { return -Vx(x, y) + 0.5f; }});
  layer.push_back({"ViewLayer.Vector.Y", kFloat, [](int x, int y) { return -Vy(x, y) - 0.25f; }});
  layer.push_back({"ViewLayer.Vector.Z", kFloat, [](int x, int y) { return -Vx(x, y) - 0.5f; }});
  layer.push_back({"ViewLayer.Vector.W", kFloat, [](int x, int y) { return -Vy(x, y) + 0.25f; }});
  WriteExr(P("blender.exr"), kW, kH, {layer});
  const Result r = RunRender(With({"-i", P("blender.exr"), "-o", P("b.exr"), "--vectors", "blender"}));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameColour(P("b.exr"), "ViewLayer.Combined.");
  Read out = ReadExr(P("b.exr"));
  EXPECT_EQ(out.At(6, 5, "VectX"), 6.0f);
  EXPECT_EQ(out.At(6, 5, "ViewLayer.Vector.X"), -5.5f) << "the source channels are kept";
  const Result missing = RunRender(With({"-i", P("truth.exr"), "-o", P("m.exr"), "--vectors", "blender"}));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("needs a channel \"Vector.X\""), std::string::npos) << missing.output;
}

TEST_F(Conventions, ForwardBackwardFlippedAndNdcVectors) {
  struct Case {
    std::string preset, u, v;
    std::function<float(int, int)> fu, fv;
    std::vector<std::string> extra;
  };
  const std::vector<Case> cases{
      {"forward", "forward.u", "forward.v", Vx, Vy, {}},
      {"backward", "backward.u", "backward.v", Vx, Vy, {}},
      {"forward", "forward.u", "forward.v", Vx, [](int x, int y) { return -Vy(x, y); }, {"--vectors-flip-y"}},
      {"ndc", "VectX", "VectY", [](int x, int y) { return Vx(x, y) / kW; }, [](int x, int y) { return Vy(x, y) / kH; }, {}},
      {"pixels", "VectX", "VectY", [](int x, int y) { return Vx(x, y) * 2; }, [](int x, int y) { return Vy(x, y) * 2; },
       {"--vectors-scale", "0.5"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::vector<Channel> ch = Colour();
    ch.push_back({"Z", kFloat, Depth});
    ch.push_back({c.u, kFloat, c.fu});
    ch.push_back({c.v, kFloat, c.fv});
    const std::string in = P("c" + std::to_string(n) + ".exr"), out = P("o" + std::to_string(n++) + ".exr");
    WriteExr(in, kW, kH, {ch});
    std::vector<std::string> args = With({"-i", in, "-o", out, "--vectors", c.preset});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Result r = RunRender(args);
    ASSERT_EQ(r.status, 0) << c.preset << ": " << r.output;
    SCOPED_TRACE(c.preset + (c.extra.empty() ? "" : " " + c.extra[0]));
    ExpectSameColour(out);
  }
}

TEST_F(Conventions, InverseAndScaledDepth) {
  std::vector<Channel> inv = Colour();
  inv.push_back({"depth.Z", kFloat, [](int x, int y) { return 1.0f / Depth(x, y); }});
  inv.push_back({"VectX", kFloat, Vx});
  inv.push_back({"VectY", kFloat, Vy});
  WriteExr(P("inv.exr"), kW, kH, {inv});
  Result r = RunRender(With({"-i", P("inv.exr"), "-o", P("inv.out.exr"), "--depth-mode", "inverse"}));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameColour(P("inv.out.exr"));

  std::vector<Channel> metres = Colour();
  metres.push_back({"Z", kFloat, [](int x, int y) { return Depth(x, y) / 1024.0f; }});
  metres.push_back({"VectX", kFloat, Vx});
  metres.push_back({"VectY", kFloat, Vy});
  WriteExr(P("m.exr"), kW, kH, {metres});
  r = RunRender(With({"-i", P("m.exr"), "-o", P("m.out.exr"), "--depth-scale", "1024"}));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameColour(P("m.out.exr"));
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
