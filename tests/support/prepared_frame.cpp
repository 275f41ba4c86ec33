#include "tests/support/prepared_frame.h"

#include <cmath>
#include <functional>
#include <tuple>
#include <utility>

#include "motion/splat.h"
#include "motion/streak_layout.h"
#include "tests/support/double_rows.h"

namespace testing_support {

PreparedFrame::PreparedFrame(Image* in, const Controls& controls) : input(in) {
  tool = factory.Create(&console.doc);
  for (auto& c : controls) tool->FindInput(c.first)->Edit(c.second);
  tool->FindInput("Input")->Connect(input);
  request = std::make_unique<Request>(tool, 0.0);
  depth_blur_interface& d = tool->DepthBlur();
  tool->FrameInput = input;
  d.CaptureFrameSettings(request.get(), input);
  tool->FrameVelocityChannel = float(tool->FindInput("VelocityChannel")->ValueAt(0));
  tool->FrameEdgeCondition = float(tool->FindInput("EdgeCondition")->ValueAt(0));
  mirror = tool->FrameEdgeCondition > 1.5f && tool->FrameEdgeCondition < 2.5f;
  tool->FrameOutput = NewImage({{IMG_Like, static_cast<const void*>(input)}, {IMG_Channel, CHAN_Z},
                                {IMG_Channel, CHAN_VECTX}, {IMG_Channel, CHAN_VECTY}});
  Quorvex::FrameMotion m;
  const double s = tool->FindInput("Scale Velocity")->ValueAt(0);
  m.scale_x = float(s);
  m.scale_y = -float(s);
  m.velocity = input;
  tool->SampleList.clear();
  tool->RunSamplePass(m);
  tool->BuildBankForSamples();
  samples = tool->SampleList.size();
  for (const pixel_sample& p : tool->SampleList) {
    const int32_t h = splat::KernelHalfSide(d.SampleKernelIndex(p.depth), d.KernelStep);
    const double area = double(2 * h + 1) * double(2 * h + 1);
    streak::LayOut(p, mirror, input->Width, input->Height, h + 1, [&](const pixel_sample&) { taps += area; });
  }
}

PreparedFrame::~PreparedFrame() {
  tool->FindInput("Input")->Connect(nullptr);
  request.reset();
  if (tool->FrameOutput) tool->FrameOutput->Recycle();
  tool->FrameOutput = nullptr;
  tool->Recycle();
}

void PreparedFrame::ClearAccumulation() {
  tool->DepthBlur().ColorAccum.add_channel("OutRGBA");
  tool->DepthBlur().WeightAccum.add_channel("Norm");
  for (auto& plane : ref) plane.assign(size_t(input->Width) * size_t(input->Height), 0.0);
}

void PreparedFrame::BlurPass(bool span_kernels) {
  depth_blur_interface& d = tool->DepthBlur();
  blur::PassInputs in = d.PassInputsFor(tool->SampleList.data(), tool->SampleList.size(), mirror);
  in.span_kernels = span_kernels;
  d.Pass.Begin(in);
  tool->DoMultiProcess(request.get(), int32_t((tool->SampleList.size() + 999) / 1000));
  tool->DepthBlur().FinishBlurPass();
}


void PreparedFrame::ReferencePass() {
  const depth_blur_interface& d = tool->DepthBlur();
  DoubleRows rows{ref, input->Width, 0, input->Height - 1};
  for (const pixel_sample& p : tool->SampleList) {
    const int32_t k = d.SampleKernelIndex(p.depth);
    const int32_t h = splat::KernelHalfSide(k, d.KernelStep);
    const float* kern = d.KernelBank[size_t(k)].data();
    streak::LayOut(p, mirror, input->Width, input->Height, h + 1, [&](const pixel_sample& q) {
      if (splat::Lands(q)) splat::FourCopies(rows, q, kern, h);
    });
  }
}

namespace {
float Texture(int x, int y) {
  return 0.2f + 0.6f * float(((x / 7) + (y / 5)) % 3) / 2.0f + 0.1f * std::sin(float(x) * 0.37f + float(y) * 0.11f);
}
}  // namespace

namespace {
// The texture at one depth, pixel (x, y) moving velocity(x, y).
Image* TexturedScene(int w, int h, float depth, const std::function<std::pair<float, float>(int, int)>& velocity) {
  return testing_support::MakeImage(w, h, [&](int x, int y) {
    FltPixel p;
    p.R = Texture(x, y);
    p.G = Texture(y, x);
    p.B = 0.5f;
    p.A = 1.0f;
    p.Z = depth;
    std::tie(p.VectX, p.VectY) = velocity(x, y);
    return p;
  });
}
}  // namespace

Image* FlatScene(int w, int h, float depth, float vx, float vy) {
  return TexturedScene(w, h, depth, [=](int, int) { return std::make_pair(vx, vy); });
}

Image* ScatteredMotionScene(int w, int h, float depth, float motion) {
  return TexturedScene(w, h, depth, [=](int x, int y) {
    return std::make_pair(motion + float((x * 7 + y) % 5), 0.25f * motion + float((x + y * 3) % 4) - 1.5f);
  });
}

Image* ShotScene(int w, int h, float min_motion, float max_motion) {
  return testing_support::MakeImage(w, h, [=](int x, int y) {
    FltPixel p;
    const float u = float(x) / float(w), v = float(y) / float(h);
    p.R = Texture(x, y);
    p.G = Texture(y, x);
    p.B = 0.3f + 0.4f * u;
    p.A = 1.0f;
    // Background far away, a floor coming near, three objects in between.
    float z = v < 0.5f ? 1.0f : 1.0f - (v - 0.5f) * 1.8f;
    float motion = 0.0f;
    for (int i = 0; i < 3; ++i) {
      const float cx = 0.25f + 0.25f * float(i), cy = 0.5f, r = 0.12f;
      if ((u - cx) * (u - cx) * float(w) / float(h) + (v - cy) * (v - cy) < r * r) {
        z = 0.2f + 0.3f * float(i);
        motion = min_motion + (max_motion - min_motion) * float(i) / 2.0f;
      }
    }
    p.Z = z;
    p.VectX = motion;
    p.VectY = motion * 0.25f;
    return p;
  });
}

double MaxBlurForSide(int side, int width) {
  const double diameter = side == 1 ? 0.5 : double(side) - 0.5;
  return 100.0 * 2.0 * diameter / double(width);
}

}  // namespace testing_support
