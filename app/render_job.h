#pragma once
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
  OutputDepth output_depth = OutputDepth::Auto;
  VectorConvention vectors;
  DepthConvention depth_convention;
  std::string focus_at;  // "X,Y": focus on the depth found at that pixel
};

// Exit statuses of the command.
constexpr int kExitOk = 0;
constexpr int kExitFrameFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// Runs the command; returns its exit status. Messages go to standard error.
int RunCommand(const RenderOptions& options);
