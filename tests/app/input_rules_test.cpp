// The rules every input passes before a decoder sees it, and the checked write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/exr_chunks.h"
#include "app/input_rules.h"
#include "app/plugin_loader.h"
#include "app/safe_write.h"
#include "app/temporary_files.h"
#include "app/usage_error.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::Slurp;
using testing_support::TempDir;

namespace {

void WriteSmallExr(const std::string& path, int w, int h, const char* compression, bool tiled) {
  OIIO::ImageSpec layout(w, h, 4, OIIO::TypeDesc::HALF);
  layout.attribute("compression", compression);
  if (tiled) layout.tile_width = layout.tile_height = 16;
  std::vector<float> px(size_t(w) * h * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = float(i % 97) / 97.0f;
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out->open(path, layout));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, px.data()));
  ASSERT_TRUE(out->close());
}

}  // namespace

// Every cut of a whole file, whatever its layout, is told from the whole file.
TEST(ExrChunks, EveryCutOfAFileIsSeenAndTheWholeFileIsNot) {
  TempDir t;
  struct Layout {
    const char* compression;
    bool tiled;
  };
  for (const Layout& l : {Layout{"none", false}, Layout{"zip", false}, Layout{"piz", false}, Layout{"zip", true}}) {
    SCOPED_TRACE(std::string(l.compression) + (l.tiled ? " tiled" : " scanlines"));
    const std::string whole = t.P("whole.exr");
    WriteSmallExr(whole, 40, 37, l.compression, l.tiled);
    const std::string bytes = Slurp(whole);
    EXPECT_TRUE(exr_chunks::IsExr(whole));
    EXPECT_EQ(exr_chunks::Problem(whole, bytes.size()), "");
    for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 50) {
      std::ofstream(t.P("cut.exr"), std::ios::binary).write(bytes.data(), std::streamsize(cut));
      EXPECT_NE(exr_chunks::Problem(t.P("cut.exr"), cut), "") << "cut at " << cut << " of " << bytes.size();
    }
  }
}

// An attribute whose contents disagree with its size (a channel list that
// runs past it, a box that is not 16 bytes) would make OpenEXR's reader
// take the rest of the header out of step and allocate whatever the bytes
// there claim: refused before any reader sees it.
TEST(ExrChunks, AttributesThatDisagreeWithTheirSizeAreRefused) {
  TempDir t;
  WriteSmallExr(t.P("whole.exr"), 8, 8, "zip", false);
  std::string bytes = Slurp(t.P("whole.exr"));
  const std::string key("channels\0chlist\0", 16);
  const size_t at = bytes.find(key);
  ASSERT_NE(at, std::string::npos);
  int32_t size = 0;
  std::memcpy(&size, bytes.data() + at + key.size(), 4);
  for (int32_t claimed : {size - 18, size + 3}) {
    std::string bad = bytes;
    std::memcpy(bad.data() + at + key.size(), &claimed, 4);
    std::ofstream(t.P("bad.exr"), std::ios::binary).write(bad.data(), std::streamsize(bad.size()));
    EXPECT_NE(exr_chunks::Problem(t.P("bad.exr"), bad.size()), "") << "channel list claiming " << claimed;
  }
  // The same for a type OpenEXR reads at its own size: a box of 49 bytes.
  const std::string box("displayWindow\0box2i\0", 20);
  const size_t b = bytes.find(box);
  ASSERT_NE(b, std::string::npos);
  const int32_t wrong = 49;
  std::memcpy(bytes.data() + b + box.size(), &wrong, 4);
  std::ofstream(t.P("bad.exr"), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_NE(exr_chunks::Problem(t.P("bad.exr"), bytes.size()), "");
}

TEST(InputRules, MemorySizesAndTheFrameEstimate) {
  EXPECT_EQ(input_rules::ParseMemorySize("1G"), uint64_t(1) << 30);
  EXPECT_EQ(input_rules::ParseMemorySize("512M"), uint64_t(512) << 20);
  EXPECT_EQ(input_rules::ParseMemorySize("64kb"), uint64_t(64) << 10);
  EXPECT_EQ(input_rules::ParseMemorySize("1.5GiB"), uint64_t(3) << 29);
  EXPECT_EQ(input_rules::ParseMemorySize("4096"), 4096u);
  for (const char* bad : {"", "G", "-1G", "1Q", "0", "1e30G"})
    EXPECT_THROW(input_rules::ParseMemorySize(bad), UsageError) << bad;
  // 1920 x 1080 with 7 channels: 4 bytes x (3 x 7 + 36) a pixel.
  EXPECT_EQ(input_rules::FrameMemoryEstimate(1920, 1080, 7), uint64_t(1920) * 1080 * 4 * 57);
  EXPECT_GT(input_rules::DefaultMaxMemory(), uint64_t(64) << 20);
}

// A failed write leaves the old file and no temporary; the reason is the system's.
TEST(SafeWrite, AFailedWriteKeepsTheOldFile) {
  TempDir t;
  const std::string path = t.P("out.png");
  std::ofstream(path) << "old";
  InjectWriteFailureForTesting(0, ENOSPC);
  try {
    WriteBytesSafely(path, std::string(100, 'x'));
    ADD_FAILURE() << "the write did not fail";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write " + path + ": No space left on device");
  }
  InjectWriteFailureForTesting(-1, 0);
  EXPECT_EQ(Slurp(path), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(t.dir), {}), 1) << "no temporary file left";
  WriteBytesSafely(path, std::string(3 << 20, 'y'));  // several blocks
  EXPECT_EQ(Slurp(path), std::string(3 << 20, 'y'));
  EXPECT_THROW(WriteBytesSafely(t.P("missing/out.png"), "x"), std::runtime_error);
}

TEST(TemporaryFiles, NamesSayWhoWroteThem) {
  const std::string name = fs::path(temporary_files::NameFor("/shots/a.b.0001.exr")).filename().string();
  EXPECT_EQ(name.rfind(".a.b.0001.quorvex-tmp~", 0), 0u) << name;
  EXPECT_EQ(fs::path(name).extension(), ".exr") << "writers choose by extension";
  temporary_files::Owner o;
  ASSERT_TRUE(temporary_files::ParseName(name, o));
  EXPECT_EQ(o.host, temporary_files::Self().host);
  EXPECT_EQ(o.pid, getpid());
  EXPECT_EQ(o.start, temporary_files::Self().start);
  EXPECT_GT(o.start, 0);
  for (const char* other : {"a.exr", ".a.tmp-12-0.exr", ".a.quorvex-tmp~h~x~1~0.exr", ".a.quorvex-tmp~h~1~2.exr"})
    EXPECT_FALSE(temporary_files::ParseName(other, o)) << other;
}

TEST(PluginFolder, OnlySharedObjectsExportingTheEntryAreModules) {
  TempDir t;
  EXPECT_EQ(WhyNotAModule(QUORVEX_PLUGIN_FILE), "");
  std::ofstream(t.P("text.so")) << "hello";
  EXPECT_EQ(WhyNotAModule(t.P("text.so")), "not an ELF file");
  EXPECT_EQ(WhyNotAModule(t.dir.string()), "not a regular file");
  std::string elf = Slurp(QUORVEX_PLUGIN_FILE);
  std::ofstream(t.P("cut.so"), std::ios::binary).write(elf.data(), 4000);
  EXPECT_NE(WhyNotAModule(t.P("cut.so")), "") << "a cut module's tables lie outside it";
}
