// The engine services the module hands its hosts (see host/ToolServices.h):
// answered by the tool's own settings capture and depth mapping.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "host/SimdLevel.h"
#include "host/ToolServices.h"
#include "plugin/Quorvex.h"
#include "plugin/number_utils.h"
#include "plugin/registry_tags.h"
#include "process/channels.h"
#include "process/edge_repair.h"

namespace {

void SetError(char* error, size_t size, const std::string& text) {
  if (error && size > 0) std::snprintf(error, size, "%s", text.c_str());
}

Quorvex* AsTool(Operator* op) { return dynamic_cast<Quorvex*>(op); }

double Read(Input* in, Request* req) { return ParamValue(in->GetValue(req, 0)); }

int DepthValueAt(Operator* op, Request* req, const Image* depth, int32_t x, int32_t y, float* value, char* error,
                 size_t error_size) {
  Quorvex* tool = AsTool(op);
  if (!tool || !depth || !value) return SetError(error, error_size, "not a Quorvex tool or no depth image"), 0;
  if (x < 0 || y < 0 || x >= depth->Width || y >= depth->Height)
    return SetError(error, error_size,
                    "(" + std::to_string(x) + ", " + std::to_string(y) + ") lies outside the " +
                        std::to_string(depth->Width) + " x " + std::to_string(depth->Height) + " image"),
           0;
  FltPixel p;
  depth->GetPixel(x, y, p);
  *value = DecodeDepth(p, float(Read(tool->DepthBlur().InBlurChannel, req)));
  return 1;
}

int BlurDiameters(Operator* op, Request* req, float* out, char* error, size_t error_size) {
  Quorvex* tool = AsTool(op);
  if (!tool || !out) return SetError(error, error_size, "not a Quorvex tool"), 0;
  try {
    tool->FrameDiameters(req, out);
    return 1;
  } catch (const std::exception& e) {
    SetError(error, error_size, e.what());
  } catch (...) {
    SetError(error, error_size, "Unknown error. Likely related to low memory.");
  }
  return 0;
}

const char* SimdLevel() {
  static thread_local std::string name;
  name = ActiveSimdLevel();
  return name.c_str();
}

const ToolServices g_services{kToolServicesVersion, sizeof(ToolServices), DepthValueAt, BlurDiameters, SimdLevel};

}  // namespace

void Quorvex::FrameDiameters(Request* req, float* out) {
  Image* input = static_cast<Image*>(InImage->GetValue(req, 0));
  if (!input) throw std::runtime_error("No input image is connected.");
  CaptureFrameSettings(req, input);
  ColorAccum.clear();
  WeightAccum.clear();
  const bool antialiased = Read(InAntialiasedVelocity, req) > 0.5;
  const float velocity_channel = float(Read(InVelocityChannel, req));
  Image* velocity = static_cast<Image*>(InMotionImage->GetValue(req, 0));
  if (!velocity) velocity = input;
  if (velocity->Width != input->Width || velocity->Height != input->Height)
    throw std::runtime_error("Input and velocity image dimensions are not the same.");
  // Entries stay empty: only the bank's size bounds the index.
  KernelBank.assign(size_t(KernelBankCount(input->Width)), {});
  const PlaneImage in_planes = PlanesOf(*input), depth_planes = PlanesOf(*DepthImage),
                   velocity_planes = PlanesOf(*velocity);
  const EdgeRepairSource repair{&in_planes, &velocity_planes, &depth_planes, velocity_channel, FrameDepthChannel};
  for (int row = 0; row < input->Height; ++row) {
    for (int col = 0; col < input->Width; ++col) {
      const PixelChannels in = in_planes.At(col, row);
      float depth = DecodeDepth(depth_planes.At(col, row), FrameDepthChannel);
      if (!antialiased && in.A > 0.0f && in.A < 1.0f) {
        float vx = 0, vy = 0;
        RepairEdgeVelocity(repair, col, row, vx, vy, depth);
      }
      *out++ = float(SampleKernelIndex(dof::SampleDistance(EngineDepth(), depth))) * KernelStep;
    }
  }
  std::vector<std::vector<float>>().swap(KernelBank);
}

const ToolServices* quorvex_module::Services() { return &g_services; }
