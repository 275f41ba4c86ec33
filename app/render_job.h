#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/image_io.h"
#include "app/pass_conventions.h"

// Everything a quorvex-render command asks for.
struct RenderOptions {
  std::string input, output, motion, depth, blur_image;
  std::string comp, save_comp, frames, channels, preview, plugin_path;
  std::vector<std::string> sets;
  int threads = 0;
  bool quiet = false, fail_fast = false;
  bool skip_existing = false;  // keep frames whose output already reads back complete
  bool stats = false;  // print each frame's read, render and write times
  bool list_tools = false, list_controls = false;
  bool list_long = false;  // --list-controls --long: kinds, ranges and labels too
  OutputDepth output_depth = OutputDepth::Auto;
  std::string compression;  // EXR outputs: "" keeps the input's
  VectorConvention vectors;
  DepthConvention depth_convention;
  std::string focus_at;  // "X,Y": focus on the depth found at that pixel
  std::string view = "result";   // "focus": write the focus view instead of the blurred frame
  bool write_blur_size = false;  // add a float channel "blur" (each pixel's blur diameter) to EXR outputs
  uint64_t max_memory = 0;  // bytes a frame may need; 0: half the machine's memory
};

// Exit statuses of the command (the README's table):
//   0 every frame written; 1 a frame failed (the tool's error, a failed
//   write, or in a sequence a missing or unreadable frame, the others still
//   rendered); 2 usage error or an unreadable single input, nothing written;
//   130 interrupted.
constexpr int kExitOk = 0;
constexpr int kExitFrameFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// Runs the command; returns its exit status. Messages go to standard error.
int RunCommand(const RenderOptions& options);
