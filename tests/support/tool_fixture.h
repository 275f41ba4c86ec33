#pragma once
// Builds Quorvex tools in-process (the tool's code linked statically) with
// the host's creation rules, and small host images for frames.
#include <functional>
#include <string>
#include <vector>

#include "host/Registry.h"
#include "plugin/Quorvex.h"

namespace testing_support {

// A console that keeps every line.
struct Console {
  std::vector<std::pair<int, std::string>> lines;
  HostDoc doc{[this](int kind, const std::string& text) { lines.emplace_back(kind, text); }};
  std::string Text(int kind) const;
};

// A registry of its own, so tests never touch the host's global list.
class ToolFactory {
 public:
  ToolFactory();
  Quorvex* Create(HostDoc* doc);

 private:
  ClassRegistry list_;
  Registry reg_;
};

// An image whose pixels come from f(x, y); Z and vectors added on request.
Image* MakeImage(int w, int h, const std::function<FltPixel(int, int)>& f, bool z = true, bool vectors = true);
Image* Flat(int w, int h, FltPixel p, bool z = true, bool vectors = true);

// Renders one frame and returns the output (null when none was set). The
// caller recycles it.
Image* Render(Quorvex& tool, Image* input, Image* motion = nullptr, Image* depth = nullptr, Image* blur = nullptr,
              double time = 0.0);

void Set(Quorvex& tool, const std::string& id, double v);

}  // namespace testing_support
