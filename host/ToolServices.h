#pragma once
// What a loaded tool module offers its hosts besides its classes: engine
// services that a host needs outside a render (the depth under a pixel, each
// pixel's blur size), so that no host carries a second copy of the tool's
// rules. A module exports one function returning this table.
#include <cstddef>
#include <cstdint>

class Operator;
class Request;
class Image;

#define HOST_TOOL_SERVICES_SYMBOL "HostToolServices"
constexpr uint32_t kToolServicesVersion = 1;

struct ToolServices {
  uint32_t version;  // kToolServicesVersion when the module was built
  uint32_t size;     // sizeof(ToolServices) the module was built with

  // The depth value the tool reads at pixel (x, y) of `depth` under the
  // tool's "Depth Channel" at the request's time (the value "FocusPosition"
  // takes to focus there). 1 on success; 0 with `error` filled when the
  // pixel lies outside the image.
  int (*DepthValueAt)(Operator* tool, Request* req, const Image* depth, int32_t x, int32_t y, float* value,
                      char* error, size_t error_size);

  // Each pixel's blur diameter in pixels (the kernel diameter of the pixel's
  // own sample, as the blur pass uses it) for the frame of `req`, with the
  // tool's inputs connected as for Process. `out` holds width x height
  // floats, row 0 at the top. 1 on success; 0 with `error` filled.
  int (*BlurDiameters)(Operator* tool, Request* req, float* out, char* error, size_t error_size);

  // The instruction-set level the engine runs at ("avx512", "avx2", ...).
  const char* (*SimdLevel)();
};

// const ToolServices* HostToolServices(void)
using ToolServicesFn = const ToolServices* (*)();
