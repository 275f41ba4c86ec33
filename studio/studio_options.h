#pragma once
#include <string>
#include <vector>

// What quorvex-studio was started with. The files named here are the only
// ones it reads; everything it writes goes inside out_dir.
struct StudioOptions {
  std::string input, motion, depth, comp;
  std::string frames;          // "A-B": the frame slider's range (needed for #### paths)
  std::string out_dir = ".";
  std::string listen = "127.0.0.1";
  std::string plugin_path;
  int port = 0;  // 0: any free port
  int threads = 0;
  std::vector<int> frame_list;  // parsed from `frames`, or {1}
  bool sequence = false;        // the input holds a frame pattern
};
