// Runs the real quorvex-render binary as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <OpenImageIO/imageio.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string output;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result RunRender(const std::vector<std::string>& args) {
  std::string cmd = Quote(QUORVEX_RENDER_BIN);
  for (auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int rc = pclose(p);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

struct Channel {
  std::string name;
  OIIO::TypeDesc type;
  std::function<float(int, int)> f;
};

void WriteExr(const std::string& path, int w, int h, const std::vector<std::vector<Channel>>& parts,
              const std::vector<std::string>& part_names = {}) {
  std::vector<OIIO::ImageSpec> specs;
  for (size_t p = 0; p < parts.size(); ++p) {
    OIIO::ImageSpec s(w, h, int(parts[p].size()), OIIO::TypeDesc::FLOAT);
    s.channelnames.clear();
    for (auto& c : parts[p]) {
      s.channelnames.push_back(c.name);
      s.channelformats.push_back(c.type);
    }
    if (p < part_names.size()) s.attribute("oiio:subimagename", part_names[p]);
    specs.push_back(s);
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out->open(path, int(specs.size()), specs.data())) << out->geterror();
  for (size_t p = 0; p < parts.size(); ++p) {
    if (p > 0) {
      ASSERT_TRUE(out->open(path, specs[p], OIIO::ImageOutput::AppendSubimage));
    }
    std::vector<float> px;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (auto& c : parts[p]) px.push_back(c.f(x, y));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, px.data())) << out->geterror();
  }
  out->close();
}

struct Read {
  std::vector<std::string> names;
  std::vector<OIIO::TypeDesc> types;
  std::vector<float> px;
  int w = 0, h = 0;
  float At(int x, int y, const std::string& ch) const {
    size_t c = size_t(std::find(names.begin(), names.end(), ch) - names.begin());
    return px[(size_t(y) * w + x) * names.size() + c];
  }
};

Read ReadExr(const std::string& path) {
  Read r;
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << path;
  if (!in) return r;
  const auto& s = in->spec();
  r.names = s.channelnames;
  for (int c = 0; c < s.nchannels; ++c) r.types.push_back(s.channelformat(c));
  r.w = s.width;
  r.h = s.height;
  r.px.resize(size_t(s.width) * s.height * s.nchannels);
  in->read_image(0, 0, 0, s.nchannels, OIIO::TypeDesc::FLOAT, r.px.data());
  return r;
}

const OIIO::TypeDesc kHalf = OIIO::TypeDesc::HALF, kFloat = OIIO::TypeDesc::FLOAT;

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("qr-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string P(const std::string& name) const { return (dir / name).string(); }
  // A 16 x 12 picture: a bright square on grey, depth growing to the right,
  // the square moving 6 pixels to the right.
  void Scene(const std::string& path, std::vector<std::string> names = {"R", "G", "B", "A", "Z", "VectX", "VectY"},
             OIIO::TypeDesc colour = kHalf) {
    auto square = [](int x, int y) { return x >= 5 && x < 10 && y >= 4 && y < 8; };
    WriteExr(path, 16, 12,
             {{{names[0], colour, [=](int x, int y) { return square(x, y) ? 1.0f : 0.25f; }},
               {names[1], colour, [](int, int y) { return 0.1f * float(y % 3); }},
               {names[2], colour, [](int x, int) { return 0.05f * float(x % 4); }},
               {names[3], colour, [](int, int) { return 1.0f; }},
               {names[4], kFloat, [](int x, int) { return 500.0f + 200.0f * float(x); }},
               {names[5], kFloat, [=](int x, int y) { return square(x, y) ? 6.0f : 0.0f; }},
               {names[6], kFloat, [](int, int) { return 0.0f; }}}});
  }
  fs::path dir;
};

}  // namespace

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
  Read out = ReadExr(P("out.exr"));
  EXPECT_EQ(out.At(3, 2, "ViewLayer.Depth.Z"), 1100.0f) << "depth found under its layer name and kept";
  EXPECT_EQ(out.At(9, 2, "mv.x"), 5.0f);
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
  Result r = RunRender({"-i", P("in.%d.exr"), "-o", P("out.####.exr"), "--frames", "1-3", "--comp", P("pull.comp")});
  ASSERT_EQ(r.status, 0) << r.output;
  Read a = ReadExr(P("out.0001.exr")), c = ReadExr(P("out.0003.exr"));
  ASSERT_EQ(a.w, 16);
  // Near pixels are sharp at the start of the pull and soft at its end.
  EXPECT_NE(a.At(1, 1, "G"), c.At(1, 1, "G"));
  EXPECT_TRUE(fs::exists(P("out.0002.exr")));
}

TEST_F(Render, UsageAndInputErrorsExitTwoWithOneLine) {
  Scene(P("in.exr"));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases{
      {{"-i", P("nope.exr"), "-o", P("o.exr")}, "cannot read " + P("nope.exr") + ": no such file"},
      {{"-i", P("in.exr"), "-o", P("in.exr")}, "refusing to overwrite input"},
      {{"-i", P("in.exr"), "-o", P("o.exr"), "--set", "Edges=Black"}, "unknown control \"Edges\""},
      {{"-i", P("in.exr"), "-o", P("o.exr"), "--set", "FStop=fast"}, "cannot read \"fast\""},
      {{"-i", P("in.####.exr"), "-o", P("o.exr")}, "needs --frames"},
      {{"-i", P("in.exr"), "-o", P("o.exr"), "--frames", "9-1"}, "comes before"},
      {{"-i", P("in.exr"), "-o", P("o.exr"), "--comp", P("missing.comp")}, "cannot read comp file"},
      {{"-i", P("in.exr"), "-o", P("o.exr"), "--plugin-path", P("empty.so")}, "cannot load plug-in"},
      {{"--bogus"}, "--bogus"},
  };
  std::ofstream(P("empty.so")) << "";
  for (const Case& c : cases) {
    Result r = RunRender(c.args);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(P("o.exr")));
  }
}

TEST_F(Render, AFailedFrameLeavesNoFileAndKeepsTheOldOne) {
  Scene(P("in.exr"));
  WriteExr(P("small.exr"), 8, 8, {{{"VectX", kFloat, [](int, int) { return 1.0f; }}, {"VectY", kFloat, [](int, int) { return 1.0f; }},
                                   {"R", kFloat, [](int, int) { return 0.0f; }}, {"G", kFloat, [](int, int) { return 0.0f; }},
                                   {"B", kFloat, [](int, int) { return 0.0f; }}}});
  std::ofstream(P("o.exr")) << "keep";
  Result r = RunRender({"-i", P("in.exr"), "-o", P("o.exr"), "--motion", P("small.exr")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Quorvex error: Input and velocity image dimensions are not the same.\n"), std::string::npos)
      << r.output;
  std::ifstream kept(P("o.exr"));
  std::string content((std::istreambuf_iterator<char>(kept)), {});
  EXPECT_EQ(content, "keep");
  size_t files = size_t(std::distance(fs::directory_iterator(dir), {}));
  EXPECT_EQ(files, 3u) << "no temporary file left behind";
}
