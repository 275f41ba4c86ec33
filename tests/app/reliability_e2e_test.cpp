// The command against what a render farm does to it: full disks, broken
// frames in a sequence, stale temporaries. Each case names the fault it
// guards against (refusals before any frame: usage_errors_e2e_test.cpp).
#include <random>

#include "app/temporary_files.h"
#include "tests/app/e2e_support.h"
#include "tests/app/hostile_files.h"
#include "tests/app/run_limited.h"

using namespace e2e;

namespace {

// Names of the command's temporary files in a folder.
std::vector<std::string> Temporaries(const fs::path& dir) {
  std::vector<std::string> found;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (Has(e.path().filename().string(), "quorvex-tmp")) found.push_back(e.path().string());
  return found;
}

class Reliability : public Render {
 protected:
  // A 64 x 48 noisy frame: its encodings are kilobytes, above the tests' file-size limit.
  void Noisy(const std::string& path) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<float> noise(64 * 48 * 3);
    for (float& v : noise) v = u(rng);
    auto at = [noise](int c) { return [noise, c](int x, int y) { return noise[size_t((y * 64 + x) * 3 + c)]; }; };
    WriteExr(path, 64, 48,
             {{{"R", kHalf, at(0)}, {"G", kHalf, at(1)}, {"B", kHalf, at(2)}, {"A", kHalf, [](int, int) { return 1.0f; }}}});
  }
};

}  // namespace

// Fault 1: PNG on a full disk exited 0 over a truncated file; JPEG left its
// temporary file. Every kind of file the command writes, with a file-size
// limit making its writes fail: exit 1 naming the file and the system's
// reason, the old file byte for byte as it was, no temporary file left.
TEST_F(Reliability, AFailedWriteKeepsTheOldFileAndNamesTheReason) {
  Noisy(P("in.exr"));
  // The preview case needs a limit that its output passes and its preview does not.
  fs::create_directories(P("sizes"));
  ASSERT_EQ(RunLimited({"-i", P("in.exr"), "-o", P("sizes/fine.jpg"), "--preview", P("sizes/look.png"), "-q"}).status, 0);
  const long long jpeg_size = (long long)fs::file_size(P("sizes/fine.jpg"));
  ASSERT_LT(jpeg_size, (long long)fs::file_size(P("sizes/look.png")));
  struct Case {
    std::string what, written;
    std::vector<std::string> args;
    long long limit = 200;
  };
  const std::vector<Case> cases{
      {"EXR", "out.exr", {"-o", P("out.exr")}},
      {"PNG", "out.png", {"-o", P("out.png")}},
      {"JPEG", "out.jpg", {"-o", P("out.jpg")}},
      {"TIFF", "out.tif", {"-o", P("out.tif")}},
      {"preview", "look.png", {"-o", P("fine.jpg"), "--preview", P("look.png")}, jpeg_size},
      {"comp file", "shot.comp", {"-o", P("fine.exr"), "--save-comp", P("shot.comp")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string old = "the artist's previous " + c.what;
    hostile::Save(P(c.written), old);
    std::vector<std::string> args{"-i", P("in.exr"), "-q"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = RunLimited(args, {c.limit});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(Has(r.output, "cannot write " + P(c.written) + ": File too large")) << r.output;
    EXPECT_EQ(Slurp(P(c.written)), old);
    EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    fs::remove(P("fine.jpg"));
  }
  // Without the limit each one writes a file that reads back.
  Outcome ok = RunLimited({"-i", P("in.exr"), "-o", P("out.png"), "--preview", P("look.jpg"), "--save-comp", P("s.comp"), "-q"});
  ASSERT_EQ(ok.status, 0) << ok.output;
  EXPECT_EQ(ReadExr(P("out.png")).w, 64);
  EXPECT_EQ(ReadExr(P("look.jpg")).h, 48);
}

// A full disk itself, where CI mounts a small tmpfs and names it.
TEST_F(Reliability, AFullDiskKeepsTheOldFile) {
  const char* full = std::getenv("QUORVEX_FULL_DISK_DIR");
  if (!full) GTEST_SKIP() << "QUORVEX_FULL_DISK_DIR (a nearly full tmpfs) is not set";
  Noisy(P("in.exr"));
  const std::string out = std::string(full) + "/keep.png";
  hostile::Save(out, "old");
  Outcome r = RunLimited({"-i", P("in.exr"), "-o", out, "-q"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r.output, "cannot write " + out + ": No space left on device")) << r.output;
  EXPECT_EQ(Slurp(out), "old");
  EXPECT_EQ(Temporaries(full), std::vector<std::string>{});
}

// Fault 6: a '#' or '%' in a folder counted as a frame pattern.
TEST_F(Reliability, FramePatternsLiveOnlyInTheFileName) {
  fs::create_directories(P("50%done"));
  Scene(P("50%done/still.exr"));
  Result still = RunRender({"-i", P("50%done/still.exr"), "-o", P("50%done/out.exr"), "-q"});
  EXPECT_EQ(still.status, 0) << still.output;
  Result seq = RunRender({"-i", P("50%done/still.exr"), "-o", P("take#2/o.####.exr"), "--frames", "1-2", "-q"});
  EXPECT_EQ(seq.status, 0) << seq.output;
  EXPECT_TRUE(fs::exists(P("take#2/o.0001.exr")));
  EXPECT_TRUE(fs::exists(P("take#2/o.0002.exr")));
  EXPECT_FALSE(fs::exists(P("take12")));
}

// Fault 8: one unreadable frame stopped the sequence. The others render, the
// command ends with exit 1 naming every failed frame; --fail-fast stops.
TEST_F(Reliability, ASequenceRendersPastFailedFrames) {
  for (int f : {1, 3, 5}) Scene(P("in." + std::to_string(f) + ".exr"));
  hostile::Save(P("in.4.exr"), "not an image");  // frame 2 is missing
  fs::create_directories(P("out.0005.exr"));     // frame 5 cannot be written
  Result r = RunRender({"-i", P("in.#.exr"), "-o", P("out.####.exr"), "--frames", "1-5", "-q"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(fs::exists(P("out.0001.exr")));
  EXPECT_TRUE(fs::exists(P("out.0003.exr")));
  EXPECT_FALSE(fs::exists(P("out.0004.exr"))) << "a failed frame writes no file";
  EXPECT_TRUE(Has(r.output, "frame 2: cannot read " + P("in.2.exr") + ": no such file")) << r.output;
  EXPECT_TRUE(Has(r.output, "frame 4: cannot read " + P("in.4.exr"))) << r.output;
  EXPECT_TRUE(Has(r.output, "frame 5: cannot write " + P("out.0005.exr"))) << r.output;
  EXPECT_TRUE(Has(r.output, "3 of 5 frames failed: 2, 4, 5")) << r.output;
  fs::remove(P("out.0003.exr"));
  Result fast = RunRender({"-i", P("in.#.exr"), "-o", P("out.####.exr"), "--frames", "1-5", "-q", "--fail-fast"});
  EXPECT_EQ(fast.status, 1) << fast.output;
  EXPECT_FALSE(fs::exists(P("out.0003.exr"))) << "--fail-fast stops at the first failed frame";
  // A single unreadable input is a usage error, found before any folder is made.
  EXPECT_EQ(RunRender({"-i", P("in.2.exr"), "-o", P("new/one.exr")}).status, 2);
  EXPECT_FALSE(fs::exists(P("new")));
}

// Fault 9: temporary files of failed writes and killed processes stayed.
// This host's temporaries whose process is gone are removed; a live
// writer's and another host's stay.
TEST_F(Reliability, StaleTemporariesOfThisHostAreRemoved) {
  Scene(P("in.exr"));
  const temporary_files::Owner me = temporary_files::Self();
  const std::string gone = ".out.quorvex-tmp~" + me.host + "~999999999~12~0.exr";
  const std::string reused = ".out.quorvex-tmp~" + me.host + "~" + std::to_string(me.pid) + "~" +
                             std::to_string(me.start + 1) + "~0.exr";
  const std::string live = ".out.quorvex-tmp~" + me.host + "~" + std::to_string(me.pid) + "~" +
                           std::to_string(me.start) + "~3.exr";
  const std::string other_host = ".out.quorvex-tmp~farm-node-17~999999999~12~0.exr";
  const std::string unrelated = ".out.tmp-123-0.exr";
  for (const std::string& n : {gone, reused, live, other_host, unrelated}) hostile::Save(P(n), "x");
  Result r = RunRender({"-i", P("in.exr"), "-o", P("out.exr"), "-q"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(fs::exists(P(gone)));
  EXPECT_FALSE(fs::exists(P(reused))) << "the process id now belongs to another process";
  EXPECT_TRUE(fs::exists(P(live)));
  EXPECT_TRUE(fs::exists(P(other_host)));
  EXPECT_TRUE(fs::exists(P(unrelated)));
}

// Fault 12 and the half-float clamp: duplicate names, Inf in half outputs,
// a stray library in the plug-in folder, a thread-library warning under --quiet.
TEST_F(Reliability, OutputsAreWellFormedAndQuietIsQuiet) {
  Scene(P("in.exr"));
  Result dup = RunRender({"-i", P("in.exr"), "-o", P("dup.exr"), "--channels", "R=G", "-q"});
  ASSERT_EQ(dup.status, 0) << dup.output;
  Read d = ReadExr(P("dup.exr"));
  EXPECT_EQ(d.names, (std::vector<std::string>{"R", "G", "B", "A", "Z", "R_input", "VectX", "VectY"}));

  WriteExr(P("bright.exr"), 4, 3,
           {{{"R", kFloat, [](int x, int) { return x == 0 ? 1e6f : 0.5f; }},
             {"G", kFloat, [](int, int) { return 0.5f; }},
             {"B", kFloat, [](int, int) { return 0.5f; }},
             {"A", kFloat, [](int, int) { return 1.0f; }},
             {"Z", kFloat, [](int x, int y) { return x == 1 && y == 1 ? -INFINITY : 10.0f; }}}});
  Result half = RunRender({"-i", P("bright.exr"), "-o", P("half.exr"), "--data-type", "half", "--set", "AlphaPatcher=0"});
  ASSERT_EQ(half.status, 0) << half.output;
  EXPECT_TRUE(Has(half.output, "4 values beyond the half-float range written as +-65504")) << half.output;
  Read h = ReadExr(P("half.exr"));
  EXPECT_EQ(h.At(0, 2, "R"), 65504.0f);
  EXPECT_EQ(h.At(1, 1, "Z"), -65504.0f) << "never Inf";

  fs::create_directories(P("plugins"));
  fs::copy_file(QUORVEX_PLUGIN_FILE, P("plugins/quorvex.so"));
  hostile::Save(P("plugins/notes.so"), "not a library");
  fs::copy_file("/proc/self/exe", P("plugins/program.so"));  // ELF, but no module
  Result stray = RunRender({"-i", P("in.exr"), "-o", P("p.exr"), "--plugin-path", P("plugins"), "-q"});
  EXPECT_EQ(stray.status, 0) << stray.output;
  EXPECT_TRUE(Has(stray.output, P("plugins/notes.so") + " is not a Quorvex plug-in module: not an ELF file; skipped"))
      << stray.output;
  EXPECT_TRUE(Has(stray.output, "program.so is not a Quorvex plug-in module: it does not export HostModuleResource; skipped"))
      << stray.output;

  Result many = RunRender({"-i", P("in.exr"), "-o", P("t.exr"), "--threads", "64", "-q"});
  EXPECT_EQ(many.status, 0);
  EXPECT_EQ(many.output, "") << "--quiet prints nothing, the thread library's warnings included";
}
