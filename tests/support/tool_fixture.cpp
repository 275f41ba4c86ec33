#include "tests/support/tool_fixture.h"

namespace testing_support {

std::string Console::Text(int kind) const {
  std::string s;
  for (auto& l : lines)
    if (l.first == kind) s += l.second;
  return s;
}

namespace {
Operator* Factory(Registry* reg, const ScriptVal& sv, const TagList& tags) { return new Quorvex(reg, sv, tags); }
}  // namespace

ToolFactory::ToolFactory()
    : reg_(list_, FuID("tessalyworks.Quorvex"), {{REG_Factory, reinterpret_cast<const void*>(&Factory)}}) {}

Quorvex* ToolFactory::Create(HostDoc* doc) { return static_cast<Quorvex*>(reg_.Create(doc)); }

Image* MakeImage(int w, int h, const std::function<FltPixel(int, int)>& f, bool z, bool vectors) {
  Image* img = new Image(w, h, z, vectors);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img->SetPixel(x, y, f(x, y));
  return img;
}

Image* Flat(int w, int h, FltPixel p, bool z, bool vectors) {
  return MakeImage(w, h, [p](int, int) { return p; }, z, vectors);
}

Image* Render(Quorvex& tool, Image* input, Image* motion, Image* depth, Image* blur, double time) {
  tool.FindInput("Input")->Connect(input);
  tool.FindInput("Motion Image")->Connect(motion);
  tool.FindInput("DepthMap")->Connect(depth);
  tool.FindInput("BlurImage")->Connect(blur);
  Image* out;
  {
    Request req(&tool, time);
    tool.Process(&req);
    out = static_cast<Image*>(req.TakeResult(tool.OutImage));
  }
  for (const char* id : {"Input", "Motion Image", "DepthMap", "BlurImage"}) tool.FindInput(id)->Connect(nullptr);
  return out;
}

void Set(Quorvex& tool, const std::string& id, double v) { tool.FindInput(id)->Edit(v, 0.0); }

}  // namespace testing_support
