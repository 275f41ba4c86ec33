// The command against what a render farm and hostile files do to it: full
// disks, special files, headers that claim more than the file holds, broken
// frames in a sequence. Each case names the fault it guards against.
#include <sys/stat.h>

#include <OpenImageIO/imageio.h>

#include <random>

#include "app/temporary_files.h"
#include "tests/app/e2e_support.h"
#include "tests/app/hostile_files.h"
#include "tests/app/run_limited.h"

using namespace e2e;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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

// Fault 2: --save-comp replaced an input EXR with JSON. No written path
// (output, preview, comp) may be an input by any name.
TEST_F(Reliability, NothingTheCommandWritesIsOneOfItsInputs) {
  Scene(P("shot.exr"));
  fs::create_symlink(P("shot.exr"), P("link.exr"));
  fs::create_hard_link(P("shot.exr"), P("hard.exr"));
  fs::create_symlink(P("shot.exr"), P("link.png"));
  fs::create_directories(P("sub"));
  const std::string before = Slurp(P("shot.exr"));
  const std::vector<std::vector<std::string>> cases{
      {"-o", P("out.exr"), "--save-comp", P("shot.exr")},
      {"-o", P("out.exr"), "--save-comp", P("link.exr")},
      {"-o", P("hard.exr")},
      {"-o", P("sub/../shot.exr")},
      {"-o", P("out.exr"), "--preview", P("link.png")},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"-i", P("shot.exr")};
    args.insert(args.end(), c.begin(), c.end());
    Result r = RunRender(args);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Has(r.output, "refusing to overwrite input")) << r.output;
    EXPECT_EQ(Slurp(P("shot.exr")), before);
    EXPECT_FALSE(fs::exists(P("out.exr"))) << "refused before any frame";
  }
}

// Fault 3: deep nesting and long arguments overflowed the stack (SIGSEGV).
TEST_F(Reliability, LimitsExitTwoWithAClearMessage) {
  Scene(P("in.exr"));
  const std::string deep = std::string(70000, '[') + std::string(70000, ']');
  struct Case {
    std::string what;
    std::vector<std::string> args;
    std::string message;
  };
  hostile::Save(P("version.comp"), R"({"format": "quorvex-comp", "version": )" + deep + "}");
  hostile::Save(P("keys.comp"), R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": )" + deep + "}}}");
  hostile::Save(P("ok.comp"), R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": [[1, 2]]}}})");
  const std::vector<Case> cases{
      {"comp nested in version", {"--comp", P("version.comp")}, "nested deeper than 64 levels"},
      {"comp nested in keys", {"--comp", P("keys.comp")}, "nested deeper than 64 levels"},
      {"40000-character --frames", {"--frames", std::string(40000, '1')}, "the limit is 4096"},
      {"40000 #", {"-o", P(std::string(40000, '#') + ".exr")}, "the limit is 4096"},
      {"a path beyond PATH_MAX", {"-o", "/" + std::string(4091, 'a') + ".exr"}, "longer than the system's 4095"},
      {"a frame list beyond a million", {"--frames", "1-999999,2000000-2000009"}, "more than a million frames"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"-i", P("in.exr"), "-o", P("out.####.exr")};
    if (c.args[0] == "-o") args = {"-i", P("in.exr")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = RunLimited(args);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Has(r.output, c.message)) << r.output;
  }
  Outcome fine = RunLimited({"-i", P("in.exr"), "-o", P("out.exr"), "--comp", P("ok.comp"), "-q"});
  EXPECT_EQ(fine.status, 0) << fine.output;
}

// Fault 5 and 12: special files hung the command; an unreadable file was
// "not an OpenEXR file". Each is refused at once, naming file and reason.
TEST_F(Reliability, OnlyRegularReadableFilesAreOpened) {
  Scene(P("in.exr"));
  ASSERT_EQ(mkfifo(P("fifo.exr").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", P("zero.exr"));
  fs::create_directories(P("folder.exr"));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases{
      {{"-i", P("fifo.exr")}, P("fifo.exr") + ": it is a FIFO (named pipe), not a regular file"},
      {{"-i", P("zero.exr")}, P("zero.exr") + ": it is a device, not a regular file"},
      {{"-i", P("in.exr"), "--depth", P("zero.exr")}, P("zero.exr") + ": it is a device"},
      {{"-i", P("in.exr"), "--comp", P("fifo.exr")}, "comp file " + P("fifo.exr") + ": it is a FIFO"},
      {{"-i", P("folder.exr")}, P("folder.exr") + ": it is a folder, not a file"},
      {{"-i", P("missing.exr")}, P("missing.exr") + ": no such file"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", P("out.exr")});
    Outcome r = RunLimited(args, {-1, false, 20});
    EXPECT_FALSE(r.timed_out) << c.message;
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Has(r.output, "cannot read " + c.message)) << r.output;
  }
  // Permission denied for what it is (as root, the command runs as "nobody").
  fs::permissions(dir, fs::perms::all);
  Scene(P("locked.exr"));
  fs::permissions(P("locked.exr"), fs::perms::none);
  Limits who;
  who.as_nobody = geteuid() == 0;
  Outcome r = RunLimited({"-i", P("locked.exr"), "-o", P("out.exr")}, who);
  if (r.status == 126 || r.status == 127) GTEST_SKIP() << "cannot run the command as another user here";
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(Has(r.output, "cannot read " + P("locked.exr") + ": permission denied")) << r.output;
}

// Fault 4: memory followed the header's claim (6.4 GB for a 10 KB file,
// std::bad_alloc for 46000 x 46000). Refused from the header, exit 2, the
// whole command under 200 MB.
TEST_F(Reliability, FilesClaimingMoreThanTheyHoldAreRefusedWithinTwoHundredMegabytes) {
  std::string cut = hostile::ExrHeader(20000, 20000);
  cut.resize(10 * 1024, '\0');
  hostile::Save(P("cut.exr"), cut);
  hostile::Save(P("big.exr"), hostile::ExrWithTinyChunks(12000, 12000));
  hostile::Save(P("huge.exr"), hostile::ExrWithTinyChunks(46000, 46000));
  Scene(P("real.exr"));
  const std::string real = Slurp(P("real.exr"));
  hostile::Save(P("real-cut.exr"), real.substr(0, real.size() - 40));
  {  // a grey PNG of 12000 x 12000, a few hundred kilobytes
    OIIO::ImageSpec layout(12000, 12000, 1, OIIO::TypeDesc::UINT8);
    auto out = OIIO::ImageOutput::create(P("grey.png"));
    ASSERT_TRUE(out->open(P("grey.png"), layout));
    std::vector<unsigned char> row(12000, 128);
    for (int y = 0; y < 12000; ++y) ASSERT_TRUE(out->write_scanline(y, 0, OIIO::TypeDesc::UINT8, row.data()));
    out->close();
  }
  // Found by fuzzing: bytes whose decoders allocate gigabytes when opened.
  for (const char* seed : {"png-chunk-claiming-1600mb.png", "dpx-claiming-2500mb", "webp-claiming-700mb"}) {
    const std::string bytes = Slurp(std::string(QUORVEX_SOURCE_DIR) + "/fuzz/corpus/image_reader/" + seed);
    ASSERT_GT(bytes.size(), 1u) << seed;
    hostile::Save(P(std::string(seed) + ".png"), bytes.substr(1));  // the fuzzer's first byte picks the extension
  }
  struct Case {
    std::string file, reason;
  };
  const std::vector<Case> cases{
      {"png-chunk-claiming-1600mb.png.png", "bytes, beyond the file's end"},
      {"dpx-claiming-2500mb.png", "it is not an image of a format the command reads (OpenEXR, PNG, JPEG or TIFF)"},
      {"webp-claiming-700mb.png", "it is not an image of a format the command reads"},
      {"cut.exr", "inside its offset table"},
      {"big.exr", "a 12000 x 12000 frame of 4 channels needs about 25.7 GB to render, more than --max-memory 1.0 GB"},
      {"huge.exr", "46000 x 46000"},
      {"real-cut.exr", "it is cut short"},
      {"grey.png", "a 12000 x 12000 frame of 1 channels needs about"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Outcome r = RunLimited({"-i", P(c.file), "-o", P("out.exr"), "--max-memory", "1G"});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Has(r.output, "cannot read " + P(c.file) + ": ")) << r.output;
    EXPECT_TRUE(Has(r.output, c.reason)) << r.output;
    EXPECT_LT(r.max_rss_kb, 200 * 1024);
    EXPECT_FALSE(fs::exists(P("out.exr")));
  }
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
