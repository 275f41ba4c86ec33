// Zip and zips parts compressed after OpenEXR writes them uncompressed: the
// command's reader and OpenEXR's take the result part by part, lines that
// end a partial block included, and the bytes really shrink.
#include <gtest/gtest.h>
#include <unistd.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfMultiPartOutputFile.h>
#include <OpenEXR/ImfOutputPart.h>
#include <OpenEXR/ImfPartType.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/exr_file.h"
#include "app/image_io.h"

namespace fs = std::filesystem;

namespace {

const int kW = 29, kH = 45;  // 45 lines: two whole zip blocks and a partial one
const char* const kParts[2][4] = {{"A", "B", "G", "R"}, {"Z", nullptr, nullptr, nullptr}};

float Value(int part, int c, int x, int y) { return 0.1f * float(part + c) + 0.01f * float(x) + 0.002f * float(y * y); }

// A beauty part (zip) and a depth part (piz), as a renderer writes them.
void WriteSource(const std::string& path) {
  std::vector<Imf::Header> headers(2, Imf::Header(kW, kH));
  std::vector<std::vector<float>> planes;
  for (int p = 0; p < 2; ++p) {
    headers[size_t(p)].setName(p == 0 ? "beauty" : "depth");
    headers[size_t(p)].setType(Imf::SCANLINEIMAGE);
    headers[size_t(p)].compression() = p == 0 ? Imf::ZIP_COMPRESSION : Imf::PIZ_COMPRESSION;
    for (int c = 0; c < 4 && kParts[p][c]; ++c) headers[size_t(p)].channels().insert(kParts[p][c], Imf::Channel(Imf::FLOAT));
  }
  Imf::MultiPartOutputFile file(path.c_str(), headers.data(), 2);
  for (int p = 0; p < 2; ++p) {
    Imf::FrameBuffer frame;
    for (int c = 0; c < 4 && kParts[p][c]; ++c) {
      planes.emplace_back(size_t(kW) * kH);
      for (int i = 0; i < kW * kH; ++i) planes.back()[size_t(i)] = Value(p, c, i % kW, i / kW);
      frame.insert(kParts[p][c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(planes.back().data()), 4, 4 * kW));
    }
    Imf::OutputPart part(file, p);
    part.setFrameBuffer(frame);
    part.writePixels(kH);
  }
}

}  // namespace

TEST(ExrDeflate, ZipPartsReadBackThroughOpenExrWithEveryLine) {
  const fs::path dir = fs::temp_directory_path() / ("quorvex-deflate-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string in = (dir / "in.exr").string(), out = (dir / "out.exr").string();
  WriteSource(in);
  const FileImage source = ReadImageFile(in);
  std::vector<exr_file::OutChannel> channels;
  for (size_t c = 0; c < source.names.size(); ++c)
    channels.push_back({source.names[c], source.types[c], source.planes[c].data()});

  const size_t raw = exr_file::Encode(kW, kH, channels, &source, "R", {"none", {}}).size();
  struct Case {
    const char* chosen;
    Imf::Compression beauty, depth;
  } const cases[] = {{"", Imf::ZIP_COMPRESSION, Imf::PIZ_COMPRESSION},  // a piz part copied beside a zip one
                     {"zip", Imf::ZIP_COMPRESSION, Imf::ZIP_COMPRESSION},
                     {"zips", Imf::ZIPS_COMPRESSION, Imf::ZIPS_COMPRESSION}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string("--compression '") + k.chosen + "'");
    const std::vector<char> bytes = exr_file::Encode(kW, kH, channels, &source, "R", {k.chosen, {}});
    EXPECT_LT(bytes.size(), raw * 3 / 4) << "the chunks were not deflated";
    std::ofstream(out, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    // The command's own reader (which checks every offset table first).
    const FileImage back = ReadImageFile(out);
    ASSERT_EQ(back.names, source.names);
    for (size_t c = 0; c < back.planes.size(); ++c)
      for (size_t i = 0; i < size_t(kW) * kH; ++i) ASSERT_EQ(back.planes[c][i], source.planes[c][i]) << back.names[c];
    // And OpenEXR's.
    Imf::MultiPartInputFile file(out.c_str());
    ASSERT_EQ(file.parts(), 2);
    for (int p = 0; p < 2; ++p) {
      EXPECT_EQ(file.header(p).compression(), p == 0 ? k.beauty : k.depth);
      Imf::InputPart part(file, p);
      std::vector<std::vector<float>> planes;
      Imf::FrameBuffer frame;
      for (int c = 0; c < 4 && kParts[p][c]; ++c) {
        planes.emplace_back(size_t(kW) * kH, -1.0f);
        frame.insert(kParts[p][c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(planes.back().data()), 4, 4 * kW));
      }
      part.setFrameBuffer(frame);
      part.readPixels(0, kH - 1);
      for (size_t c = 0; c < planes.size(); ++c)
        for (int i = 0; i < kW * kH; ++i)
          ASSERT_EQ(planes[c][size_t(i)], Value(p, int(c), i % kW, i / kW)) << kParts[p][c] << " at " << i;
    }
  }
  fs::remove_all(dir);
}
