// Process: one frame from the controls and images to the output image.
#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>

#include "dof/area_average.h"
#include "dof/kernel_bank.h"
#include "dof/kernel_shapes.h"
#include "motion/blur_pass.h"
#include "plugin/Quorvex.h"
#include "plugin/number_utils.h"
#include "process/resolve_pass.h"
#include "process/sample_pass.h"

namespace {
double Read(Input* in, Request* req) { return ParamValue(in->GetValue(req, 0)); }

const char kUnknownError[] = "Quorvex error: Unknown error. Likely related to low memory.\n";

void PrintError(HostDoc* doc, const std::string& message) {
  doc->PrintF(CON_Error, "%s", ("Quorvex error: " + message + "\n").c_str());
}
}  // namespace

void Quorvex::Process(Request* req) {
  FrameMotion m;
  m.alpha_patch = float(Read(InAlphaPatcher, req));
  m.clamped_velocity = Read(InNormalizedVelocity, req) > 0.5;
  m.antialiased_velocity = Read(InAntialiasedVelocity, req) > 0.5;
  const float scale = float(Read(InScaleVelocity, req));
  m.scale_x = scale;
  m.scale_y = ScaleLockState ? -scale : -float(Read(InScaleVelocityY, req));
  FrameVelocityChannel = float(Read(InVelocityChannel, req));
  FrameEdgeCondition = float(Read(InEdgeCondition, req));
  FrameInput = static_cast<Image*>(InImage->GetValue(req, 0));
  FrameBlurImage = static_cast<Image*>(InBlurImage->GetValue(req, 0));
  if (!FrameInput) {
    PrintError(Doc, "No input image is connected.");
    return;
  }
  if (FrameInput->Width <= 0 || FrameInput->Height <= 0) {
    PrintError(Doc, "The input image is empty (zero width or height).");
    return;
  }
  // The working images address rows in 32-bit arithmetic: a colour image
  // must stay below 2^31 bytes.
  if ((int64_t(FrameInput->Width) * 16 + 15) / 16 * 16 * int64_t(FrameInput->Height) >= (int64_t(1) << 31)) {
    Doc->PrintF(CON_Error, "Quorvex error: The image is too large (%d x %d); the tool works on images of up to "
                "2^27 pixels.\n", FrameInput->Width, FrameInput->Height);
    return;
  }
  // A divisor below 1 would turn every velocity infinite; treat it as full resolution.
  const int64_t divisor = FrameInput->Attrs.GetLong(IMG_ResolutionDivisor, 1);
  m.divisor = divisor >= 1 && divisor <= std::numeric_limits<int32_t>::max() ? int32_t(divisor) : 1;

  try {
    CaptureFrameSettings(req, FrameInput);
  } catch (const std::exception& e) {
    PrintError(Doc, e.what());
    return;
  } catch (...) {
    Doc->PrintF(CON_Error, "%s", kUnknownError);
    return;
  }

  FrameOutput = NewImage({{IMG_Like, static_cast<const void*>(FrameInput)},
                          {IMG_Channel, CHAN_Z},
                          {IMG_Channel, CHAN_VECTX},
                          {IMG_Channel, CHAN_VECTY}});
  if (!FrameOutput) {
    PrintError(Doc, "The host could not make the output image.");
    return;
  }

  // A cancelled frame sets no output; its image goes back to the host.
  auto cancel = [this] {
    FrameOutput->Recycle();
    FrameOutput = nullptr;
  };
  try {
    SampleList.clear();
    Image* velocity = static_cast<Image*>(InMotionImage->GetValue(req, 0));
    if (!velocity) velocity = FrameInput;
    if (velocity->Width != FrameInput->Width || velocity->Height != FrameInput->Height)
      throw std::runtime_error("Input and velocity image dimensions are not the same.");
    m.velocity = velocity;

    const size_t corrupt = RunSamplePass(m);
    if (corrupt > 0)
      Doc->PrintF(CON_Info,
                  "Quorvex: %zu samples have corrupt motion (not a number, or a streak longer than %.0f times the "
                  "image's larger side) and stay still.\n",
                  corrupt, kCorruptMotionSides);
    if (Abort) return cancel();

    BuildBankForSamples();
    if (Abort) return cancel();

    const size_t chunks = blur::ChunkCount(SampleList.size());
    if (chunks > size_t(std::numeric_limits<int32_t>::max()))
      throw std::runtime_error("The frame has too many samples for one blur pass.");
    const auto start = std::chrono::steady_clock::now();
    BeginBlurPass(SampleList.data(), SampleList.size(), EngineSettings(m).edges == EdgeCondition::Mirror);
    try {
      DoMultiProcess(req, int32_t(chunks));
    } catch (...) {
      FinishBlurPass();
      throw;
    }
    FinishBlurPass();
    const auto stop = std::chrono::steady_clock::now();
    Doc->PrintF(CON_Info, "Lumora Quorvex processing time: %d ms\n",
                int(std::chrono::duration_cast<std::chrono::milliseconds>(stop - start).count()));

    bool cancelled = false;
    Resolve(m.alpha_patch, cancelled);
    if (cancelled) return cancel();

    std::vector<std::vector<float>>().swap(KernelBank);
    SampleList.clear();
    ColorAccum.clear();
    WeightAccum.clear();
    OutImage->Set(req, FrameOutput, nullptr);
  } catch (const std::exception& e) {
    FrameOutput->Recycle();
    FrameOutput = nullptr;
    PrintError(Doc, e.what());
  } catch (...) {
    FrameOutput->Recycle();
    FrameOutput = nullptr;
    Doc->PrintF(CON_Error, "%s", kUnknownError);
  }
  SampleList.clear();
  SampleList.shrink_to_fit();
}

// Builds only the bank entries that the frame's samples reach; every other
// entry stays empty. A streak's points share their sample's depth, so the
// samples' indices are all the indices the blur pass asks for.
void Quorvex::BuildBankForSamples() {
  const int32_t width = FrameInput->Width;
  const int32_t count = KernelBankCount(width);
  if (count <= 1) {
    BuildKernelBank(FrameBlurImage, width);
    return;
  }
  KernelBank.assign(size_t(count), {});
  std::vector<uint8_t> wanted(size_t(count), 0);
  int32_t largest = 0;
  for (const pixel_sample& s : SampleList) {
    const int32_t k = SampleKernelIndex(s.depth);
    wanted[size_t(k)] = 1;
    largest = std::max(largest, k);
  }
  Image* reduced = ReducedKernelImage(FrameBlurImage, largest);
  try {
    BuildKernelBank(reduced ? reduced : FrameBlurImage, width, &wanted);
  } catch (...) {
    if (reduced) reduced->Recycle();
    throw;
  }
  if (reduced) reduced->Recycle();
}

// A kernel image larger than dof::KernelImageLimit of the largest side the
// frame needs, reduced to that limit by area averaging; null when the image
// is small enough (it then goes to every entry's resize as it is).
Image* Quorvex::ReducedKernelImage(Image* blur_image, int32_t largest_entry) const {
  if (!blur_image || largest_entry < 1) return nullptr;
  const int32_t side = std::max(kernel_shapes::SideLength(double(float(largest_entry) * KernelStep)), 3);
  const int32_t limit = dof::KernelImageLimit(side);
  if (blur_image->Width <= limit && blur_image->Height <= limit) return nullptr;
  const int32_t w = std::min(blur_image->Width, limit), h = std::min(blur_image->Height, limit);
  Image* out = NewImage({{IMG_Width, int64_t(w)}, {IMG_Height, int64_t(h)}});
  if (!out) throw std::runtime_error("The host could not make the reduced blur image.");
  for (int chan : {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA})
    if (const float* src = blur_image->Plane(chan))
      dof::AreaAverage(src, blur_image->Width, blur_image->Height, out->Plane(chan), w, h);
  return out;
}

void Quorvex::Resolve(float alpha_patch, bool& cancelled) {
  const auto* crow = reinterpret_cast<const char*>(ColorAccum.channel_row("OutRGBA", 0));
  const auto* nrow = reinterpret_cast<const char*>(WeightAccum.channel_row("Norm", 0));
  ResolveSettings settings{FrameNormalize > 0.5f, alpha_patch};
  if (settings.normalize)
    settings.least_weight = LeastDividedWeight(reinterpret_cast<const float*>(nrow), WeightAccum.width,
                                               WeightAccum.height, WeightAccum.row_stride);
  const size_t W = size_t(FrameOutput->Width);
  float *r = FrameOutput->Plane(CHAN_RED), *g = FrameOutput->Plane(CHAN_GREEN), *b = FrameOutput->Plane(CHAN_BLUE),
        *a = FrameOutput->Plane(CHAN_ALPHA);
  for (int y = 0; y < FrameOutput->Height; ++y) {
    const size_t o = size_t(y) * W;
    ResolveRow(settings, reinterpret_cast<const tessaly_image::color_rgba_f*>(crow),
               reinterpret_cast<const float*>(nrow), FrameOutput->Width, r + o, g + o, b + o, a + o);
    crow += ColorAccum.row_stride;
    nrow += WeightAccum.row_stride;
    if (Abort) {
      cancelled = true;
      return;
    }
  }
}
