// A whole frame through the loaded plug-in on tiny images built from the
// input bytes: any pixel values (NaN, infinities, huge, negative) and any
// control values, within and beyond their ranges. The frame must not crash,
// and when every pixel and control value is finite and below 1e6 in size,
// every output pixel must be finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host/Module.h"
#include "host/Registry.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size, pos = 0;
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  float Float() {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= uint32_t(Byte()) << (8 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
};

bool Tame(double v) { return std::isfinite(v) && std::fabs(v) < 1e6; }

PluginModule& Module() {
  static std::unique_ptr<PluginModule> m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
  return *m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  HostDoc doc([](int, const std::string&) {});
  Operator* op = Module().Classes()[0]->Create(&doc);
  bool tame = true;
  // Control values: a byte picks how many edits follow, each an input and a value.
  const int edits = in.Byte() % 12;
  for (int e = 0; e < edits; ++e) {
    Input* input = op->Inputs()[in.Byte() % 28];
    const uint8_t kind = in.Byte();
    double v = kind < 128 ? double(kind % 8) : double(in.Float());
    tame = tame && Tame(v);
    input->Edit(v);
  }
  const int w = 1 + in.Byte() % 7, h = 1 + in.Byte() % 7;
  const bool separate = in.Byte() & 1;
  auto make = [&]() {
    Image* img = new Image(w, h, true, true);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        FltPixel p;
        float* f[] = {&p.R, &p.G, &p.B, &p.A, &p.Z, &p.VectX, &p.VectY};
        for (float* c : f) {
          const uint8_t kind = in.Byte();
          *c = kind < 160 ? float(kind) / 64.0f : in.Float();
          tame = tame && Tame(*c);
        }
        img->SetPixel(x, y, p);
      }
    return img;
  };
  Image* input = make();
  Image* motion = separate ? make() : nullptr;
  op->FindInput("Input")->Connect(input);
  op->FindInput("Motion Image")->Connect(motion);
  Image* out;
  {
    Request req(op, 0);
    op->Process(&req);
    out = static_cast<Image*>(req.TakeResult(op->FindOutput("Output")));
  }
  if (out && tame) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        FltPixel p;
        out->GetPixel(x, y, p);
        if (!std::isfinite(p.R) || !std::isfinite(p.G) || !std::isfinite(p.B) || !std::isfinite(p.A)) std::abort();
      }
  }
  if (out) out->Recycle();
  op->FindInput("Input")->Connect(nullptr);
  op->FindInput("Motion Image")->Connect(nullptr);
  input->Recycle();
  if (motion) motion->Recycle();
  op->Recycle();
  return 0;
}
