// quorvex-render: loads the Quorvex plug-in and renders frames and sequences
// from image files.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/farm_task.h"
#include "app/input_rules.h"
#include "app/render_job.h"
#include "host/SimdLevel.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // A frame's planes, sample list and file buffers are tens of megabytes
  // each. Keep freed blocks for the next ones instead of handing them back
  // to the system and taking every page fault again.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  // Real arguments are short; a hostile one of tens of thousands of
  // characters is refused before any parser walks it.
  for (int i = 1; i < argc; ++i)
    if (std::strlen(argv[i]) > input_rules::kMaxArgumentLength) {
      std::fprintf(stderr, "quorvex-render: argument %d is %zu characters long; the limit is %zu\n", i,
                   std::strlen(argv[i]), input_rules::kMaxArgumentLength);
      return kExitUsage;
    }
  RenderOptions o;
  CLI::App app{"Renders depth-of-field and motion blur with the Quorvex plug-in.", "quorvex-render"};
  app.add_option("--input,-i", o.input, "input image (RGBA, optionally Z and VectX/VectY)");
  app.add_option("--output,-o", o.output, "output image (.exr keeps every channel)");
  app.add_option("--motion", o.motion, "motion-vector image (VectX/VectY in pixels)");
  app.add_option("--depth", o.depth, "depth image (Z)");
  app.add_option("--blur-image", o.blur_image, "kernel-shape image (its red channel)");
  app.add_option("--set", o.sets, "control edit ID=VALUE (repeatable; keyframes ID=F:V,F:V)");
  app.add_option("--comp", o.comp, "comp file with saved control values");
  app.add_option("--save-comp", o.save_comp, "write the control values to a comp file");
  app.add_option("--frames", o.frames, "frame range A-B or A-BxSTEP for #### / %04d paths");
  app.add_flag("--skip-existing", o.skip_existing, "keep frames whose output is already complete (re-runs fill gaps)");
  int chunk = 1;
  std::string chunk_from;
  CLI::Option* from = app.add_option(
      "--chunk-from", chunk_from,
      "render only the chunk of --frames whose number (1 = first) this environment variable holds, "
      "e.g. SLURM_ARRAY_TASK_ID");
  app.add_option("--chunk", chunk, "frames per farm task (with --chunk-from)")->check(CLI::PositiveNumber)->needs(from);
  app.add_option("--threads", o.threads, "worker threads (0: one per core)")->check(CLI::Range(0, 1024));
  app.add_option("--channels", o.channels, "channel mapping, e.g. Z=depth.Z,VectX=forward.u,VectY=forward.v");
  app.add_option("--preview", o.preview, "also write an sRGB PNG preview");
  app.add_option("--plugin-path", o.plugin_path, "plug-in module or folder (default: the install location)");
  app.add_flag("--quiet,-q", o.quiet, "silence information lines");
  app.add_flag("--fail-fast", o.fail_fast, "stop at the first failed frame");
  app.add_flag("--stats", o.stats, "print each frame's read, render and write times");
  app.add_flag("--list-tools", o.list_tools, "list the registered tools");
  app.add_flag("--list-controls", o.list_controls, "list the tool's controls with their values");
  app.add_flag("--long", o.list_long, "with --list-controls: kinds, accepted and slider ranges, button labels");
  app.add_option("--vectors", o.vectors.preset, "motion-vector convention: pixels, blender, forward, backward, ndc")
      ->check(CLI::IsMember({"pixels", "blender", "forward", "backward", "ndc"}));
  app.add_option("--vectors-scale", o.vectors.scale, "multiply the motion vectors (shutter)");
  app.add_flag("--vectors-flip-y", o.vectors.flip_y, "the vectors' y axis points down");
  app.add_option("--depth-mode", o.depth_convention.mode, "depth pass holds a distance or its inverse (1/z)")
      ->check(CLI::IsMember({"distance", "inverse"}));
  app.add_option("--depth-scale", o.depth_convention.scale, "multiply the depth (unit change)");
  app.add_option("--view", o.view, "what to write: result (the blurred frame) or focus (where the blur is)")
      ->check(CLI::IsMember({"result", "focus"}));
  app.add_flag("--write-blur-size", o.write_blur_size,
               "add a float channel 'blur' (each pixel's blur diameter in pixels) to an EXR output");
  app.add_option("--focus-at", o.focus_at, "focus on the depth found at pixel X,Y of the depth pass");
  std::string max_memory;
  app.add_option("--max-memory", max_memory,
                 "refuse frames needing more memory than this (e.g. 8G; default: half the machine's memory)");
  bool version = false;
  app.add_flag("--version", version, "print the version and the instruction-set level in use");
  std::string depth_type = "auto";
  app.add_option("--data-type", depth_type, "EXR channel type: auto (as the input), half or float")
      ->check(CLI::IsMember({"auto", "half", "float"}));
  app.add_option("--compression", o.compression,
                 "EXR compression: none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa or dwab (default: the input's)")
      ->check(CLI::IsMember({"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"}));
  app.footer(
      "Examples:\n"
      "  quorvex-render -i shot.exr -o shot_blur.exr --set EnableDepth=on --set FocusPosition=2000\n"
      "  quorvex-render -i beauty.####.exr --motion vectors.####.exr -o blurred.####.exr --frames 1001-1100\n"
      "\n"
      "Exit status: 0 all frames written; 1 a frame failed (the tool's error, a failed write, or in a\n"
      "sequence a missing or unreadable frame: the others still render unless --fail-fast); 2 usage\n"
      "error or an unreadable single input, nothing written; 130 cancelled (Ctrl-C).");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "quorvex-render: %s (see --help)\n", e.what());
    return kExitUsage;
  }
  if (version) {
    try {
      ApplySimdSwitch();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorvex-render: %s\n", e.what());
      return kExitUsage;
    }
    std::printf("quorvex-render %s (vectors: %s)\n", QUORVEX_VERSION, ActiveSimdLevel().c_str());
    return kExitOk;
  }
  if (argc == 1) {
    std::fputs(app.help().c_str(), stderr);
    return kExitUsage;
  }
  if (!chunk_from.empty()) {
    try {
      int index = 0, count = 0;
      o.frames = TaskFrames(o.frames, chunk, chunk_from, &index, &count);
      if (!o.quiet)
        std::fprintf(stderr, "quorvex-render: task %d of %d (%s): frames %s\n", index, count, chunk_from.c_str(),
                     o.frames.c_str());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorvex-render: %s\n", e.what());
      return kExitUsage;
    }
  }
  try {
    if (!max_memory.empty()) o.max_memory = input_rules::ParseMemorySize(max_memory);
    for (const std::string* p : {&o.input, &o.output, &o.motion, &o.depth, &o.blur_image, &o.comp, &o.save_comp,
                                 &o.preview, &o.plugin_path})
      input_rules::CheckPathLength(*p, "a path");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-render: %s\n", e.what());
    return kExitUsage;
  }
  o.output_depth = depth_type == "half" ? OutputDepth::Half : depth_type == "float" ? OutputDepth::Float : OutputDepth::Auto;
  return RunCommand(o);
}
