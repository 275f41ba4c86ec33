#include "app/frame_render.h"

Image* RenderFrame(Operator& op, const FrameInputs& images, double frame) {
  const char* const ids[] = {"Input", "Motion Image", "DepthMap", "BlurImage"};
  Image* const connected[] = {images.input, images.motion, images.depth, images.blur};
  for (int i = 0; i < 4; ++i) op.FindInput(ids[i])->Connect(connected[i]);
  Image* result = nullptr;
  try {
    Request req(&op, frame);
    op.Process(&req);
    result = static_cast<Image*>(req.TakeResult(op.FindOutput("Output")));
  } catch (...) {
    for (const char* id : ids) op.FindInput(id)->Connect(nullptr);
    throw;
  }
  for (const char* id : ids) op.FindInput(id)->Connect(nullptr);
  return result;
}
