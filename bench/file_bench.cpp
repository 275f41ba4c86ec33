// EXR reads and writes: the OpenEXR route the command takes against the
// OpenImageIO route it took before (interleaved float reads split into
// planes; writes always zip, encoded in memory), on the same files in one run.
//   build/bin/file_bench --benchmark_min_time=0.5 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// Files: 7 channels (R, G, B, A, Z, VectX, VectY), all half or all float;
// QUORVEX_BENCH_THREADS (default 2) sets OpenEXR's worker threads;
// QUORVEX_BENCH_ENCODE_ONLY=1 times writes without the file and its flush.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/exr_file.h"
#include "app/image_io.h"
#include "app/safe_write.h"

namespace {

namespace fs = std::filesystem;

const char* const kCodecs[] = {"zip", "zips", "piz"};
const char* const kNames[] = {"R", "G", "B", "A", "Z", "VectX", "VectY"};

struct Frame {
  int w, h;
  bool half;
};

Frame FrameOf(const benchmark::State& s) {
  return {s.range(0) ? 3840 : 1280, s.range(0) ? 2160 : 720, s.range(1) == 0};
}

std::string Folder() {
  static const std::string dir = [] {
    const fs::path d = fs::temp_directory_path() / ("quorvex-file-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d.string();
  }();
  return dir;
}

// A picture with detail like a render's: gradients and edges everywhere,
// sampling grain in the colour (R, G, B); alpha, depth and vectors smooth,
// as renderers write them.
float Sample(int c, int x, int y) {
  const float v = 0.5f + 0.4f * std::sin(0.013f * float(x) + 0.7f * float(c)) * std::cos(0.017f * float(y));
  const float grain = c < 3 ? float((x * 7919 + y * 104729 + c * 31) % 97) / 970.0f : 0.0f;
  const float edge = (x / 64 + y / 64) % 2 ? 0.25f : 0.0f;
  if (c == 3) return edge > 0 ? 1.0f : 0.5f;
  return (c == 4 ? 1000.0f : 1.0f) * (v + grain + edge);
}

// Written once per (frame, codec) with OpenImageIO, as a renderer's file would be.
std::string InputFile(const Frame& f, const std::string& codec) {
  const std::string path = Folder() + "/in_" + std::to_string(f.w) + (f.half ? "_half_" : "_float_") + codec + ".exr";
  if (fs::exists(path)) return path;
  OIIO::ImageSpec layout(f.w, f.h, 7, f.half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
  layout.channelnames.assign(std::begin(kNames), std::end(kNames));
  layout.attribute("compression", codec);
  std::vector<float> px(size_t(f.w) * f.h * 7);
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x)
      for (int c = 0; c < 7; ++c) px[(size_t(y) * f.w + x) * 7 + c] = Sample(c, x, y);
  auto out = OIIO::ImageOutput::create(path);
  if (!out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, px.data()) || !out->close()) std::abort();
  return path;
}

// QUORVEX_BENCH_ENCODE_ONLY=1: writes stop at the encoded bytes (no file,
// no flush), separating the codecs from the disk.
bool EncodeOnly() { return std::getenv("QUORVEX_BENCH_ENCODE_ONLY") != nullptr; }

int Threads() {
  const char* t = std::getenv("QUORVEX_BENCH_THREADS");
  return t ? std::atoi(t) : 2;
}

// The earlier read route: every part through OpenImageIO as interleaved
// floats, then one pass into planes.
FileImage ReadBefore(const std::string& path) {
  auto in = OIIO::ImageInput::create(path);
  OIIO::ImageSpec s;
  if (!in || !in->open(path, s)) std::abort();
  FileImage img;
  img.width = s.width;
  img.height = s.height;
  const int n = s.nchannels;
  LargeVector<float> pixels(size_t(s.width) * s.height * n);
  in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data());
  for (int c = 0; c < n; ++c) {
    img.names.push_back(s.channelnames[size_t(c)]);
    img.types.push_back(s.channelformat(c) == OIIO::TypeDesc::HALF ? SampleType::Half : SampleType::Float);
    img.planes.emplace_back(size_t(s.width) * s.height);
  }
  for (size_t i = 0; i < size_t(s.width) * s.height; ++i)
    for (int c = 0; c < n; ++c) img.planes[size_t(c)][i] = pixels[i * size_t(n) + size_t(c)];
  return img;
}

// The earlier write route: interleave, encode zip in memory, safe write.
void WriteBefore(const std::string& path, const FileImage& img) {
  OIIO::ImageSpec layout(img.width, img.height, int(img.names.size()), OIIO::TypeDesc::FLOAT);
  layout.channelnames = img.names;
  layout.channelformats.clear();
  for (SampleType t : img.types) layout.channelformats.push_back(t == SampleType::Half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
  layout.attribute("compression", "zip");
  const size_t n = img.names.size();
  LargeVector<float> px(size_t(img.width) * img.height * n);
  for (size_t i = 0; i < size_t(img.width) * img.height; ++i)
    for (size_t c = 0; c < n; ++c) px[i * n + c] = img.planes[c][i];
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput memory(bytes);
  OIIO::Filesystem::IOProxy* proxy = &memory;
  layout.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
  auto out = OIIO::ImageOutput::create(path);
  if (!out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, px.data()) || !out->close()) std::abort();
  if (!EncodeOnly()) WriteBytesSafely(path, bytes.data(), bytes.size());
}

void Pixels(benchmark::State& s, const Frame& f) {
  s.counters["Mpixels/s"] = benchmark::Counter(double(f.w) * f.h * double(s.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// range(0): 0 = 1280 x 720, 1 = 3840 x 2160; range(1): 0 = half, 1 = float; range(2): codec.
void ReadOld(benchmark::State& s) {
  const Frame f = FrameOf(s);
  const std::string path = InputFile(f, kCodecs[s.range(2)]);
  OIIO::attribute("threads", Threads());
  for (auto _ : s) benchmark::DoNotOptimize(ReadBefore(path).planes.data());
  Pixels(s, f);
}

void ReadNew(benchmark::State& s) {
  const Frame f = FrameOf(s);
  const std::string path = InputFile(f, kCodecs[s.range(2)]);
  exr_file::SetThreads(Threads());
  for (auto _ : s) benchmark::DoNotOptimize(ReadImageFile(path).planes.data());
  Pixels(s, f);
}

// Writes always compare against the earlier route's zip.
void WriteOld(benchmark::State& s) {
  const Frame f = FrameOf(s);
  const FileImage img = ReadImageFile(InputFile(f, "zip"));
  OIIO::attribute("threads", Threads());
  const std::string out = Folder() + "/out_old.exr";
  for (auto _ : s) WriteBefore(out, img);
  Pixels(s, f);
}

void WriteNew(benchmark::State& s) {
  const Frame f = FrameOf(s);
  const FileImage img = ReadImageFile(InputFile(f, "zip"));
  exr_file::SetThreads(Threads());
  ChannelPick pick;
  Image* host = MakeHostImage(img, {}, pick);
  const std::string out = Folder() + "/out_new.exr";
  std::vector<exr_file::OutChannel> chans;
  for (size_t c = 0; c < img.names.size(); ++c) chans.push_back({img.names[c], img.types[c], img.planes[c].data()});
  for (auto _ : s) {
    if (EncodeOnly())
      benchmark::DoNotOptimize(exr_file::Encode(img.width, img.height, chans, &img, "R", {kCodecs[s.range(2)], {}}).data());
    else
      WriteImageFile(out, *host, &img, pick, OutputDepth::Auto, {}, {kCodecs[s.range(2)], {}});
  }
  host->Recycle();
  Pixels(s, f);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"4k", "float", "codec"})->Unit(benchmark::kMillisecond)->UseRealTime();
  for (int size : {0, 1})
    for (int type : {0, 1})
      for (int codec = 0; codec < 3; ++codec) b->Args({size, type, codec});
}

BENCHMARK(ReadOld)->Apply([](auto* b) { Sizes(b); });
BENCHMARK(ReadNew)->Apply([](auto* b) { Sizes(b); });
BENCHMARK(WriteOld)->ArgNames({"4k", "float", "codec"})->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Args({0, 0, 0})->Args({0, 1, 0})->Args({1, 0, 0})->Args({1, 1, 0});
BENCHMARK(WriteNew)->Apply([](auto* b) { Sizes(b); });

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
}
