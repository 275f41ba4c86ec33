// The image-library module (OpenImageIO) is loaded only by work that needs
// it: the dynamic loader's own trace shows which libraries a run opened.
#include "tests/app/e2e_support.h"

namespace e2e {
namespace {

struct Case {
  const char* what;
  std::vector<std::string> extra;  // arguments beyond --input in.exr --output ...
  const char* output;
  bool loads;
};

class ImageLibraryLoading : public Render {};

TEST_F(ImageLibraryLoading, OnlyOtherFormatsPreviewsAndBlurImageLoadIt) {
  Scene(P("in.exr"));
  // A 9 x 5 kernel shape: the tool resizes it to each blur size.
  WriteExr(P("kernel.exr"), 9, 5,
           {{{"R", kHalf, [](int, int) { return 1.0f; }},
             {"G", kHalf, [](int, int) { return 1.0f; }},
             {"B", kHalf, [](int, int) { return 1.0f; }}}});
  const std::vector<Case> cases{
      {"EXR to EXR with depth blur", {"--set", "EnableDepth=1", "--set", "FocusPosition=500"}, "out.exr", false},
      {"EXR to EXR, chosen compression", {"--compression", "piz"}, "out.exr", false},
      {"PNG output", {}, "out.png", true},
      {"PNG preview", {"--preview", P("preview.png")}, "out.exr", true},
      {"BlurImage kernel",
       {"--set", "EnableDepth=1", "--set", "FocusPosition=500", "--blur-image", P("kernel.exr")},
       "out.exr",
       true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--input", P("in.exr"), "--output", P(c.output), "--quiet"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    // LD_DEBUG=files: the loader names every library it opens on standard error.
    ::setenv("LD_DEBUG", "files", 1);
    const Result r = RunRender(args);
    ::unsetenv("LD_DEBUG");
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.output.substr(0, 2000);
    EXPECT_EQ(r.output.find("quorvex_imageio.so") != std::string::npos, c.loads) << c.what;
    EXPECT_EQ(r.output.find("libOpenImageIO") != std::string::npos, c.loads) << c.what;
  }
}

TEST_F(ImageLibraryLoading, AMissingModuleFailsOnlyTheWorkThatNeedsIt) {
  Scene(P("in.exr"));
  ::setenv("QUORVEX_IMAGE_LIBRARY", P("nowhere/quorvex_imageio.so").c_str(), 1);
  const Result exr = RunRender({"--input", P("in.exr"), "--output", P("out.exr"), "--quiet"});
  const Result png = RunRender({"--input", P("in.exr"), "--output", P("out.png"), "--quiet"});
  ::unsetenv("QUORVEX_IMAGE_LIBRARY");
  EXPECT_EQ(exr.status, 0) << exr.output;
  EXPECT_NE(png.status, 0);
  EXPECT_NE(png.output.find("cannot load the image-library module"), std::string::npos) << png.output;
  EXPECT_FALSE(fs::exists(P("out.png")));
}

}  // namespace
}  // namespace e2e
