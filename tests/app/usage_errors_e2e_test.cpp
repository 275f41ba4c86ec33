// Every bad input or option the command refuses before a frame renders: exit
// 2 with one clear message, within seconds and 200 MB (memory never follows
// a file's claim), without a crash, and with nothing in the folder written
// or changed. Each case names the fault it guards against.
#include <sys/stat.h>

#include <map>

#include "tests/app/e2e_support.h"
#include "tests/app/hostile_files.h"
#include "tests/app/run_limited.h"

using namespace e2e;

namespace {

struct Case {
  std::string what;
  std::vector<std::string> args;
  std::string message;
  std::string detail = "";  // also in the output
  bool as_nobody = false;
};

// Every entry under the folder: a link's target, a regular file's bytes (as a hash), other kinds by name.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> s;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    const fs::file_status st = e.symlink_status();
    s[e.path().string()] = fs::is_symlink(st)        ? "-> " + fs::read_symlink(e.path()).string()
                           : fs::is_regular_file(st) ? std::to_string(std::hash<std::string>{}(Slurp(e.path().string())))
                                                     : "(not a file)";
  }
  return s;
}

class UsageErrors : public Render {
 protected:
  // The inputs every case may name, hostile ones included.
  void MakeFiles() {
    fs::permissions(dir, fs::perms::all);  // the "nobody" case must reach its file
    Scene(P("in.exr"));
    for (int f = 1; f <= 2; ++f) Scene(P("in." + std::to_string(f) + ".exr"));
    hostile::Save(P("empty.so"), "");
    hostile::Save(P("file"), "a file, not a folder");
    fs::create_symlink(P("in.exr"), P("link.exr"));
    fs::create_hard_link(P("in.exr"), P("hard.exr"));
    fs::create_symlink(P("in.exr"), P("link.png"));
    fs::create_directories(P("sub"));
    const std::string deep = std::string(70000, '[') + std::string(70000, ']');
    hostile::Save(P("version.comp"), R"({"format": "quorvex-comp", "version": )" + deep + "}");
    hostile::Save(P("keys.comp"), R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": )" + deep + "}}}");
    ASSERT_EQ(mkfifo(P("fifo.exr").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", P("zero.exr"));
    fs::create_directories(P("folder.exr"));
    Scene(P("locked.exr"));
    fs::permissions(P("locked.exr"), fs::perms::none);
    std::string cut = hostile::ExrHeader(20000, 20000);
    cut.resize(10 * 1024, '\0');
    hostile::Save(P("cut.exr"), cut);
    hostile::Save(P("big.exr"), hostile::ExrWithTinyChunks(12000, 12000));
    hostile::Save(P("huge.exr"), hostile::ExrWithTinyChunks(46000, 46000));
    const std::string real = Slurp(P("in.exr"));
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
  }
  // -i in.exr -o o.exr, then `more`.
  std::vector<std::string> Out(std::vector<std::string> more) const {
    more.insert(more.begin(), {"-i", P("in.exr"), "-o", P("o.exr")});
    return more;
  }
  std::vector<std::string> Read(const std::string& file) const {
    return {"-i", P(file), "-o", P("o.exr"), "--max-memory", "1G"};
  }
  std::vector<std::string> Frames(std::vector<std::string> more) const {
    more.insert(more.begin(), {"-i", P("in.#.exr"), "--frames", "1-2"});
    return more;
  }
};

// A command that stops at a usage error holds little more than its loaded
// libraries (the image library alone is about 130 MB resident); under
// AddressSanitizer their shadow and its allocator's quarantine add about as
// much again. Either way far less than the hundreds of megabytes a decoder
// fooled by a hostile file would take.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kUsageErrorRssKb = 400 * 1024;
#else
constexpr long kUsageErrorRssKb = 200 * 1024;
#endif

TEST_F(UsageErrors, ExitTwoWithOneMessageAndNothingWritten) {
  MakeFiles();
  const std::string no_format = "it is not an image of a format the command reads";
  const std::vector<Case> cases{
      {"an unknown option", {"--bogus"}, "--bogus"},
      {"an unknown control", Out({"--set", "Edges=Black"}), "unknown control \"Edges\""},
      {"a value that is no number", Out({"--set", "FStop=fast"}), "cannot read \"fast\""},
      {"a pattern input without frames", {"-i", P("in.####.exr"), "-o", P("o.exr")}, "exist; give --frames"},
      {"a range backwards", Out({"--frames", "9-1"}), "comes before"},
      {"a missing comp file", Out({"--comp", P("missing.comp")}), "cannot read comp file " + P("missing.comp") + ": no such file"},
      {"a plug-in path that is no module", Out({"--plugin-path", P("empty.so")}), "is not a Quorvex plug-in module: not an ELF file"},
      // Fault 2: --save-comp replaced an input EXR with JSON. No written path may be an input by any name.
      {"output is the input", {"-i", P("in.exr"), "-o", P("in.exr")}, "refusing to overwrite input"},
      {"comp over the input", Out({"--save-comp", P("in.exr")}), "refusing to overwrite input"},
      {"comp over a link to the input", Out({"--save-comp", P("link.exr")}), "refusing to overwrite input"},
      {"output over a hard link", {"-i", P("in.exr"), "-o", P("hard.exr")}, "refusing to overwrite input"},
      {"output over sub/../input", {"-i", P("in.exr"), "-o", P("sub/../in.exr")}, "refusing to overwrite input"},
      {"preview over a link to the input", Out({"--preview", P("link.png")}), "refusing to overwrite input"},
      // Fault 3: deep nesting and long arguments overflowed the stack (SIGSEGV).
      {"comp nested in version", {"-i", P("in.exr"), "-o", P("o.####.exr"), "--comp", P("version.comp")}, "nested deeper than 64 levels"},
      {"comp nested in keys", {"-i", P("in.exr"), "-o", P("o.####.exr"), "--comp", P("keys.comp")}, "nested deeper than 64 levels"},
      {"40000-character --frames", {"-i", P("in.exr"), "-o", P("o.####.exr"), "--frames", std::string(40000, '1')}, "the limit is 4096"},
      {"40000 #", {"-i", P("in.exr"), "-o", P(std::string(40000, '#') + ".exr")}, "the limit is 4096"},
      {"a path beyond PATH_MAX", {"-i", P("in.exr"), "-o", "/" + std::string(4091, 'a') + ".exr"}, "longer than the system's 4095"},
      {"a frame list beyond a million", {"-i", P("in.exr"), "-o", P("o.####.exr"), "--frames", "1-999999,2000000-2000009"},
       "more than a million frames"},
      // Fault 5 and 12: special files hung the command; an unreadable file was "not an OpenEXR file".
      {"a FIFO", {"-i", P("fifo.exr"), "-o", P("o.exr")}, "cannot read " + P("fifo.exr") + ": it is a FIFO (named pipe), not a regular file"},
      {"a device", {"-i", P("zero.exr"), "-o", P("o.exr")}, "cannot read " + P("zero.exr") + ": it is a device, not a regular file"},
      {"a device as depth", Out({"--depth", P("zero.exr")}), "cannot read " + P("zero.exr") + ": it is a device"},
      {"a FIFO as comp", Out({"--comp", P("fifo.exr")}), "cannot read comp file " + P("fifo.exr") + ": it is a FIFO"},
      {"a folder", {"-i", P("folder.exr"), "-o", P("o.exr")}, "cannot read " + P("folder.exr") + ": it is a folder, not a file"},
      {"a missing file", {"-i", P("missing.exr"), "-o", P("new/o.exr")}, "cannot read " + P("missing.exr") + ": no such file"},
      {"an unreadable file (as \"nobody\" when root)", {"-i", P("locked.exr"), "-o", P("o.exr")},
       "cannot read " + P("locked.exr") + ": permission denied", "", geteuid() == 0},
      // Fault 4: memory followed the header's claim (6.4 GB for a 10 KB file, std::bad_alloc for 46000 x 46000).
      {"a PNG chunk claiming 1600 MB", Read("png-chunk-claiming-1600mb.png.png"),
       "cannot read " + P("png-chunk-claiming-1600mb.png.png") + ": ", "bytes, beyond the file's end"},
      {"a DPX claiming 2500 MB", Read("dpx-claiming-2500mb.png"), "cannot read " + P("dpx-claiming-2500mb.png") + ": ",
       no_format + " (OpenEXR, PNG, JPEG or TIFF)"},
      {"a WebP claiming 700 MB", Read("webp-claiming-700mb.png"), "cannot read " + P("webp-claiming-700mb.png") + ": ", no_format},
      {"an EXR cut in its offset table", Read("cut.exr"), "cannot read " + P("cut.exr") + ": ", "inside its offset table"},
      {"an EXR beyond --max-memory", Read("big.exr"), "cannot read " + P("big.exr") + ": ",
       "a 12000 x 12000 frame of 4 channels needs about 25.7 GB to render, more than --max-memory 1.0 GB"},
      {"an EXR of 46000 x 46000", Read("huge.exr"), "cannot read " + P("huge.exr") + ": ", "46000 x 46000"},
      {"an EXR cut short", Read("real-cut.exr"), "cannot read " + P("real-cut.exr") + ": ", "it is cut short"},
      {"a PNG beyond --max-memory", Read("grey.png"), "cannot read " + P("grey.png") + ": ",
       "a 12000 x 12000 frame of 1 channels needs about"},
      // Outputs are checked before any frame renders.
      {"an unknown output extension", Frames({"-o", P("o.#.xyz")}), "no image writer for its extension"},
      {"no output extension", Frames({"-o", P("o.#")}), "no image writer for its extension"},
      {"an output folder under a file", Frames({"-o", P("file/o.#.exr")}), "cannot make the folder of --output"},
      {"a preview folder under a file", Frames({"-o", P("o.#.exr"), "--preview", P("file/p.#.png")}),
       "cannot make the folder of --preview"},
      {"an EXR preview", Frames({"-o", P("o.#.exr"), "--preview", P("p.#.exr")}), "a preview is a PNG or JPEG file"},
      {"a comp folder under a file", Frames({"-o", P("o.#.exr"), "--save-comp", P("file/s.comp")}),
       "cannot make the folder of --save-comp"},
  };
  auto before = Snapshot(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Limits limits;
    limits.seconds = 20;
    limits.as_nobody = c.as_nobody;
    const Outcome r = RunLimited(c.args, limits);
    if (c.as_nobody && (r.status == 126 || r.status == 127)) continue;  // cannot run as another user here
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Has(r.output, c.message)) << r.output;
    EXPECT_TRUE(Has(r.output, c.detail)) << r.output;
    EXPECT_LT(r.max_rss_kb, kUsageErrorRssKb);
    const auto after = Snapshot(dir);
    EXPECT_EQ(after, before) << "nothing written or changed";
    before = after;  // each fault reported once
  }
  // What is sound passes the same checks: keys within the nesting limit, a comp file's new folder.
  hostile::Save(P("ok.comp"), R"({"format": "quorvex-comp", "controls": {"FStop": {"keys": [[1, 2]]}}})");
  const Outcome fine = RunLimited(Out({"--comp", P("ok.comp"), "-q"}));
  EXPECT_EQ(fine.status, 0) << fine.output;
  EXPECT_EQ(RunRender({"--save-comp", P("new/folder/s.comp")}).status, 0);
  EXPECT_TRUE(fs::exists(P("new/folder/s.comp"))) << "a comp file's folder is made as an image's is";
}

}  // namespace
