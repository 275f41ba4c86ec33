#pragma once
// Helpers for running quorvex-render and reading and writing small EXR files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <OpenImageIO/imageio.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace e2e {

struct Result {
  int status;
  std::string output;
};

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// `shell_prefix` goes before the command: "NAME=value " or "cd folder && ".
inline Result RunRender(const std::vector<std::string>& args, const std::string& shell_prefix = "") {
  std::string cmd = shell_prefix + Quote(QUORVEX_RENDER_BIN);
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

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using testing_support::Slurp;

inline std::function<float(int, int)> Const(float v) {
  return [v](int, int) { return v; };
}

struct Channel {
  std::string name;
  OIIO::TypeDesc type;
  std::function<float(int, int)> f;
};

inline void WriteExr(const std::string& path, int w, int h, const std::vector<std::vector<Channel>>& parts,
              const std::vector<std::string>& part_names = {}) {
  std::vector<OIIO::ImageSpec> layouts;
  for (size_t p = 0; p < parts.size(); ++p) {
    OIIO::ImageSpec s(w, h, int(parts[p].size()), OIIO::TypeDesc::FLOAT);
    s.channelnames.clear();
    for (auto& c : parts[p]) {
      s.channelnames.push_back(c.name);
      s.channelformats.push_back(c.type);
    }
    if (p < part_names.size()) s.attribute("oiio:subimagename", part_names[p]);
    layouts.push_back(s);
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out->open(path, int(layouts.size()), layouts.data())) << out->geterror();
  for (size_t p = 0; p < parts.size(); ++p) {
    if (p > 0) {
      ASSERT_TRUE(out->open(path, layouts[p], OIIO::ImageOutput::AppendSubimage));
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
    if (c == names.size()) {
      ADD_FAILURE() << "no channel " << ch;
      return std::numeric_limits<float>::quiet_NaN();
    }
    return px[(size_t(y) * w + x) * names.size() + c];
  }
};

inline Read ReadExr(const std::string& path, int part = 0) {
  Read r;
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << path;
  if (!in) return r;
  OIIO::ImageSpec s;
  EXPECT_TRUE(in->seek_subimage(part, 0, s)) << path;
  r.names = s.channelnames;
  for (int c = 0; c < s.nchannels; ++c) r.types.push_back(s.channelformat(c));
  r.w = s.width;
  r.h = s.height;
  r.px.resize(size_t(s.width) * s.height * s.nchannels);
  in->read_image(part, 0, 0, s.nchannels, OIIO::TypeDesc::FLOAT, r.px.data());
  return r;
}

const OIIO::TypeDesc kHalf = OIIO::TypeDesc::HALF, kFloat = OIIO::TypeDesc::FLOAT;

// Each test in a folder of its own (`dir`; `P(name)` a path in it).
class Render : public ::testing::Test, protected testing_support::TempDir {
 protected:
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
};

}  // namespace e2e

