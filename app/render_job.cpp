#include "app/render_job.h"

#include <tbb/global_control.h>

#include <chrono>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <memory>

#include "app/channel_names.h"
#include "app/comp_file.h"
#include "app/complete_output.h"
#include "app/control_edits.h"
#include "app/exr_file.h"
#include "app/frame_pipeline.h"
#include "app/frame_range.h"
#include "app/plugin_loader.h"
#include "app/progress.h"
#include "app/input_rules.h"
#include "app/no_effect_warnings.h"
#include "app/safe_write.h"
#include "app/temporary_files.h"
#include "app/usage_error.h"
#include "host/Registry.h"
#include "app/focus_view.h"
#include "host/ToolServices.h"

namespace fs = std::filesystem;

namespace {

const char kToolClass[] = "tessalyworks.Quorvex";

// Ctrl-C: the first raises the tool's abort flag, the second stops at once
// (removing the temporary file being written, if any).
std::atomic<Operator*> g_running_tool{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int sig) {
  if (g_interrupted) {
    temporary_files::RemovePendingInSignal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_interrupted = 1;
  if (Operator* op = g_running_tool.load()) op->Abort.store(1);
}

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sa.sa_flags = 0;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// A tool made from the loaded module, given back when the job ends.
struct ToolHandle {
  Operator* op = nullptr;
  ~ToolHandle() {
    if (op) op->Recycle();
  }
};

void PrintTools() {
  for (Registry* r : HostClassRegistry().Classes()) {
    const TagList& t = r->Tags;
    std::printf("%s\t%s\t%s\t%s\t%s\n", r->ID.c_str(), t.GetString(REG_Name, "").c_str(),
                t.GetString(REG_Category, "").c_str(), t.GetString(REG_ShortName, "").c_str(),
                t.GetString(REG_Help, "").c_str());
  }
}

std::string Kind(const Input& in) {
  if (in.DataType == "Image") return "image";
  if (in.DataType == "Text") return "text";
  if (in.ControlType == "CheckboxControl") return "switch";
  if (in.ControlType == "MultiButtonControl") return "buttons";
  if (in.ControlType == "ColorControl") return "colour";
  return "number";
}

std::string Range(const Input& in, double lo, double hi, bool slider) {
  if (in.DataType != "Number") return "-";
  // Switches and buttons take their choices, as --set clamps them.
  const int choices = in.Buttons.empty() ? (in.ControlType == "CheckboxControl" ? 2 : 0) : int(in.Buttons.size());
  if (choices) return slider ? "-" : "0 .. " + std::to_string(choices - 1);
  auto end = [](double v) { return std::isinf(v) ? std::string(v < 0 ? "-inf" : "inf") : FormatNumber(v); };
  return end(lo) + " .. " + end(hi);
}

// One row per control with everything a panel shows and accepts.
void PrintControlsLong(const Operator& op) {
  std::printf("page\tidentifier\tname\tkind\tvalue\taccepted\tslider\tbuttons\tshown\n");
  for (const Input* in : op.Inputs()) {
    std::string buttons;
    for (const std::string& b : in->Buttons) buttons += (buttons.empty() ? "" : "|") + b;
    const bool image = in->DataType == "Image";
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", (image ? "(image)" : in->Page).c_str(), in->ID.c_str(),
                in->Name().c_str(), Kind(*in).c_str(), FormatValue(*in).c_str(),
                Range(*in, in->AcceptMin, in->AcceptMax, false).c_str(),
                Range(*in, in->SliderMin, in->SliderMax, true).c_str(),
                buttons.empty() ? "-" : buttons.c_str(), in->Visible() ? "shown" : "hidden");
  }
}

void PrintControls(const Operator& op) {
  for (const Input* in : op.Inputs()) {
    const std::string page = in->DataType == "Image" ? "(image)" : in->Page;
    std::printf("%s\t%s\t%s\t%s\t%s\n", page.c_str(), in->ID.c_str(), in->Name().c_str(), FormatValue(*in).c_str(),
                in->Visible() ? "shown" : "hidden");
  }
}

// One connected image file of a frame.
struct FrameImage {
  FileImage file;
  ChannelPick pick;
  Image* image = nullptr;
  ~FrameImage() {
    if (image) image->Recycle();
  }
};

std::unique_ptr<FrameImage> Load(const std::string& path, const std::map<std::string, std::string>& mapped,
                                 uint64_t max_memory, bool colour_needed = true) {
  auto f = std::make_unique<FrameImage>();
  f->file = ReadImageFile(path, max_memory);
  f->image = colour_needed ? MakeHostImage(f->file, mapped, f->pick) : MakePassImage(f->file, mapped, f->pick);
  return f;
}

double ValueAt(Operator& op, const char* id, double t) { return op.FindInput(id)->ValueAt(t); }

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

class Job {
 public:
  Job(const RenderOptions& o, Operator& op, const ToolServices* services, Progress& progress)
      : o_(o),
        op_(op),
        services_(services),
        progress_(progress),
        max_memory_(o.max_memory ? o.max_memory : input_rules::DefaultMaxMemory()) {
    if (!o.channels.empty()) maps_ = channel_names::ParseFileMaps(o.channels);
  }

  // A frame's files, read (on a reader thread while the frame before renders).
  struct FrameInputs {
    int frame = 0;
    std::string out_path, preview_path;
    std::unique_ptr<FrameImage> input, motion, depth, blur;
    double read_ms = 0;
  };

  // A rendered frame waiting to be written (on a writer thread while the
  // next one renders).
  struct FrameOutput {
    int frame = 0;
    std::string out_path, preview_path;
    std::unique_ptr<FrameImage> input;  // its file's parts and pick shape the output
    Image* result = nullptr;
    std::string comp;  // the controls' values at this frame
    double read_ms = 0, render_ms = 0;
    ~FrameOutput() {
      if (result) result->Recycle();
    }
  };

  FrameInputs Read(int frame, bool sequence) const {
    auto at = [&](const std::string& p) { return sequence ? PathForFrame(p, frame) : p; };
    FrameInputs in;
    in.frame = frame;
    in.out_path = at(o_.output);
    in.preview_path = o_.preview.empty() ? "" : at(o_.preview);
    std::vector<std::string> inputs{at(o_.input)};
    for (const std::string* p : {&o_.motion, &o_.depth, &o_.blur_image})
      if (!p->empty()) inputs.push_back(at(*p));
    // Checked before the command starts too; a link made since then is caught here.
    for (const std::string& path : inputs)
      for (const std::string& out : {in.out_path, in.preview_path})
        if (!out.empty() && SameFile(path, out))
          throw UsageError("refusing to overwrite input " + path + " with an output; choose another output path");
    const auto t0 = Clock::now();
    in.input = Load(inputs[0], channel_names::MapFor(maps_, "input"), max_memory_);
    // Passes in their own files need only their own channels.
    if (!o_.motion.empty()) in.motion = Load(at(o_.motion), channel_names::MapFor(maps_, "motion"), max_memory_, false);
    if (!o_.depth.empty()) in.depth = Load(at(o_.depth), channel_names::MapFor(maps_, "depth"), max_memory_, false);
    if (!o_.blur_image.empty()) in.blur = Load(at(o_.blur_image), {}, max_memory_);
    in.read_ms = Ms(t0, Clock::now());
    return in;
  }

  // Renders a frame that was read; null when the tool reported an error.
  std::unique_ptr<FrameOutput> Render(FrameInputs in) {
    const int frame = in.frame;
    FrameImage& vectors = in.motion ? *in.motion : *in.input;
    if (!warned_vectors_) {  // once per command
      warned_vectors_ = true;
      const std::string w = BlenderVectorsWarning(vectors.file, vectors.pick, o_.vectors.preset);
      if (!w.empty()) progress_.Line("quorvex-render: " + w);
    }
    ApplyVectorConvention(vectors.file, *vectors.image, vectors.pick, o_.vectors);
    ApplyDepthConvention(*(in.depth ? in.depth : in.input)->image, o_.depth_convention);
    CheckNeededChannels(frame, *in.input, in.motion.get(), in.depth.get());
    if (!o_.focus_at.empty()) FocusAt(frame, in.depth ? *in.depth : *in.input);

    op_.FindInput("Input")->Connect(in.input->image);
    op_.FindInput("Motion Image")->Connect(in.motion ? in.motion->image : nullptr);
    op_.FindInput("DepthMap")->Connect(in.depth ? in.depth->image : nullptr);
    op_.FindInput("BlurImage")->Connect(in.blur ? in.blur->image : nullptr);
    auto out = std::make_unique<FrameOutput>();
    const auto t1 = Clock::now();
    std::vector<float> diameters;
    {
      Request req(&op_, double(frame));
      auto* threaded = dynamic_cast<ThreadedOperator*>(&op_);
      progress_.FrameStarted();
      if (threaded)
        threaded->ChunkProgress = [this, frame](int32_t done, int32_t count) {
          progress_.WithinFrame(frame, done, count);
        };
      op_.Process(&req);
      if (threaded) threaded->ChunkProgress = nullptr;
      out->result = static_cast<Image*>(req.TakeResult(op_.FindOutput("Output")));
      try {
        if (out->result && (o_.view == "focus" || o_.write_blur_size)) diameters = BlurDiameters(req, *out->result);
      } catch (...) {
        for (const char* id : {"Input", "Motion Image", "DepthMap", "BlurImage"}) op_.FindInput(id)->Connect(nullptr);
        throw;
      }
    }
    for (const char* id : {"Input", "Motion Image", "DepthMap", "BlurImage"}) op_.FindInput(id)->Connect(nullptr);
    if (!out->result) return nullptr;
    Image& result = *out->result;
    if (o_.view == "focus") FocusView(frame, *in.input->image, diameters, result);
    if (o_.write_blur_size) result.Extra.push_back({"blur", LargeVector<float>(diameters.begin(), diameters.end())});
    out->frame = frame;
    out->out_path = in.out_path;
    out->preview_path = in.preview_path;
    out->comp = comp_file::SerializeAt(op_, double(frame));
    out->read_ms = in.read_ms;
    out->render_ms = Ms(t1, Clock::now());
    out->input = std::move(in.input);
    return out;
  }

  // Writes a rendered frame (its output and preview).
  void Write(const FrameOutput& out) {
    const auto t2 = Clock::now();
    // The output says what made it: the version and the controls' values at this frame.
    const ExrOutputSettings exr{o_.compression, {{"quorvex:version", QUORVEX_VERSION}, {"quorvex:comp", out.comp}}};
    WriteImageFile(out.out_path, *out.result, &out.input->file, out.input->pick, o_.output_depth,
                   [&](const std::string& w) { progress_.Line("quorvex-render: " + w); }, exr);
    if (!out.preview_path.empty()) WritePreview(out.preview_path, *out.result);
    if (o_.stats) {
      char line[160];
      std::snprintf(line, sizeof line, "frame %d: read %.0f ms, render %.0f ms, write %.0f ms", out.frame,
                    out.read_ms, out.render_ms, Ms(t2, Clock::now()));
      progress_.Line(line);
    }
    progress_.FrameDone(out.frame, out.out_path);
  }

 private:
  // Each pixel's blur diameter, from the loaded module (inputs connected).
  std::vector<float> BlurDiameters(Request& req, const Image& img) {
    if (!services_) throw UsageError("--view focus and --write-blur-size: the plug-in offers no blur-size service");
    std::vector<float> d(size_t(img.Width) * size_t(img.Height));
    char error[256] = "";
    if (!services_->BlurDiameters(&op_, &req, d.data(), error, sizeof error))
      throw std::runtime_error(std::string("blur sizes: ") + error);
    return d;
  }

  // The output's colour becomes the focus view of the source.
  void FocusView(int frame, const Image& source, const std::vector<float>& diameters, Image& out) {
    const size_t n = size_t(out.Width) * size_t(out.Height);
    std::vector<float> src(4 * n), view(4 * n);
    const int chans[4] = {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA};
    for (int c = 0; c < 4; ++c)
      if (const float* p = source.Plane(chans[c]))
        for (size_t i = 0; i < n; ++i) src[4 * i + size_t(c)] = p[i];
    const FocusRamp ramp = FocusViewPixels(src.data(), diameters.data(), n, view.data());
    for (int c = 0; c < 4; ++c)
      if (float* p = out.Plane(chans[c]))
        for (size_t i = 0; i < n; ++i) p[i] = view[4 * i + size_t(c)];
    char line[200];
    std::snprintf(line, sizeof line,
                  "quorvex-render: frame %d: focus view: sharp below 1 px; blue %.2f px to red %.2f px", frame,
                  double(ramp.smallest), double(ramp.largest));
    progress_.Line(line);
  }

  // "FocusPosition" := the depth value the tool reads at pixel (X, Y).
  void FocusAt(int frame, const FrameImage& src) {
    int x = 0, y = 0;
    char extra = 0;
    if (std::sscanf(o_.focus_at.c_str(), "%d,%d%c", &x, &y, &extra) != 2)
      throw UsageError("--focus-at \"" + o_.focus_at + "\": expected X,Y in pixels, e.g. --focus-at 640,360");
    const Image& img = *src.image;
    if (x < 0 || y < 0 || x >= img.Width || y >= img.Height)
      throw UsageError("--focus-at " + o_.focus_at + " lies outside the " + std::to_string(img.Width) + " x " +
                       std::to_string(img.Height) + " depth pass");
    // The module reads the depth as its blur pass does (its channel choice).
    if (!services_) throw UsageError("--focus-at: the plug-in offers no depth service (an older module?)");
    float depth = 0;
    char error[256] = "";
    Request req(&op_, double(frame));
    if (!services_->DepthValueAt(&op_, &req, &img, x, y, &depth, error, sizeof error))
      throw UsageError("--focus-at " + o_.focus_at + ": " + error);
    const double value = depth;
    if (!std::isfinite(value))
      throw UsageError("--focus-at " + o_.focus_at + ": the depth there is not a number");
    op_.FindInput("FocusPosition")->Edit(value, double(frame));
    progress_.Line("quorvex-render: frame " + std::to_string(frame) + ": focus at (" + o_.focus_at +
                   ") = " + FormatNumber(value));
  }

  // A pass the controls ask for must be in the files: say which channels are.
  void CheckNeededChannels(int frame, const FrameImage& input, const FrameImage* motion, const FrameImage* depth) {
    const double t = double(frame);
    if (ValueAt(op_, "VelocityChannel", t) < 0.5) {
      const FrameImage& src = motion ? *motion : input;
      if (motion && !src.pick.role_to_name.count("VectX"))
        throw UsageError(src.file.path + ": no motion vectors found (it has " + src.file.ChannelList() +
                         "); map them with --channels motion:VectX=NAME,VectY=NAME");
    }
    if (ValueAt(op_, "EnableDepth", t) > 0.5 && ValueAt(op_, "BlurChannel", t) < 0.5) {
      const FrameImage& src = depth ? *depth : input;
      if (!src.pick.role_to_name.count("Z"))
        throw UsageError(src.file.path + ": depth is on but no depth channel was found (it has " +
                         src.file.ChannelList() +
                         (depth ? "); map one with --channels depth:Z=NAME"
                                : "); map one with --channels Z=NAME or connect --depth FILE"));
    }
  }

  const RenderOptions& o_;
  Operator& op_;
  const ToolServices* services_;  // the loaded module's engine services
  Progress& progress_;
  std::map<std::string, std::map<std::string, std::string>> maps_;  // --channels by file
  uint64_t max_memory_;
  bool warned_vectors_ = false;
};

// The output's folder exists or is made now, before any frame renders.
void MakeFolderFor(const std::string& path, const char* what) {
  const fs::path parent = fs::path(path).parent_path();
  std::error_code ec;
  if (parent.empty() || fs::is_directory(parent, ec)) return;
  if (!fs::create_directories(parent, ec) || ec)
    throw UsageError(std::string("cannot make the folder of ") + what + " " + path + ": " + parent.string() +
                     (ec ? ": " + ec.message() : ""));
}

// Everything the command can judge before the first frame: the writers, the
// folders, and that nothing it writes is one of its inputs.
void CheckOutputs(const RenderOptions& o, const std::vector<int>& frames, bool sequence) {
  if (!CanWriteImage(o.output))
    throw UsageError("--output " + o.output + ": no image writer for its extension (use .exr, .png, .jpg, .tif, ...)");
  if (!o.preview.empty()) CheckPreviewPath(o.preview);
  // A single frame's unreadable input is reported before any folder is made for it.
  if (!sequence)
    for (const std::string* in : {&o.input, &o.motion, &o.depth, &o.blur_image})
      if (!in->empty()) input_rules::CheckReadable(*in);
  MakeFolderFor(o.output, "--output");
  if (!o.preview.empty()) MakeFolderFor(o.preview, "--preview");
  const size_t checked = std::min<size_t>(frames.size(), 10000);  // a long sequence: its start and end
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i >= checked / 2 && i < frames.size() - checked / 2) continue;
    auto at = [&](const std::string& p) { return sequence ? PathForFrame(p, frames[i]) : p; };
    std::vector<std::string> ins{at(o.input)};
    for (const std::string* p : {&o.motion, &o.depth, &o.blur_image})
      if (!p->empty()) ins.push_back(at(*p));
    if (!o.comp.empty()) ins.push_back(o.comp);
    const std::string out = at(o.output), preview = o.preview.empty() ? "" : at(o.preview);
    for (const std::string& in : ins)
      for (const std::string& w : {out, preview})
        if (!w.empty() && SameFile(in, w))
          throw UsageError("refusing to overwrite input " + in + " with an output; choose another output path");
    if (!preview.empty() && SameFile(out, preview))
      throw UsageError("--output and --preview name the same file " + out);
  }
}

int Render(const RenderOptions& o, Operator& op, const ToolServices* services) {
  const bool sequence = HasFramePattern(o.input) || HasFramePattern(o.output);
  std::vector<int> frames{1};
  if (!o.frames.empty()) {
    frames = ParseFrameRange(o.frames);
  } else if (sequence && HasFramePattern(o.input)) {
    // No --frames: the frames of the input that exist, gaps skipped.
    frames = FramesOnDisk(o.input);
    if (frames.empty()) throw UsageError("no frames of " + o.input + " exist; give --frames or check the path");
    const std::vector<int> gaps = Gaps(frames);
    if (!o.quiet || !gaps.empty())
      std::fprintf(stderr, "quorvex-render: found frames %s of %s%s%s\n", DescribeFrames(frames).c_str(),
                   o.input.c_str(), gaps.empty() ? "" : "; missing (skipped): ", DescribeFrames(gaps).c_str());
  } else if (sequence) {
    throw UsageError("a sequence output (#### or %04d in the file name) needs --frames, e.g. --frames 1-100");
  }
  if (sequence && !HasFramePattern(o.output) && frames.size() > 1)
    throw UsageError("--output " + o.output + " has no frame pattern; every frame would overwrite it");
  CheckOutputs(o, frames, sequence);

  if (o.skip_existing) {
    frames = FramesStillToRender(
        frames, [&](int f) { return sequence ? PathForFrame(o.output, f) : o.output; },
        [&](int f, const std::string& path) {
          if (!o.quiet) std::fprintf(stderr, "quorvex-render: frame %d kept: %s is complete\n", f, path.c_str());
        });
    if (frames.empty()) return kExitOk;
  }
  Progress progress(int(frames.size()), isatty(STDERR_FILENO) != 0, o.quiet);
  op.Doc->SetSink([&](int kind, const std::string& text) {
    if (kind == CON_Info && o.quiet) return;
    progress.Line(text);
  });
  Job job(o, op, services, progress);
  std::vector<int> failed;
  g_running_tool.store(&op);
  InstallInterruptHandler();
  frame_pipeline::Stages<Job::FrameInputs, Job::FrameOutput> stages;
  stages.read = [&](int f) { return job.Read(f, sequence); };
  stages.render = [&](Job::FrameInputs&& in) { return job.Render(std::move(in)); };
  stages.write = [&](const Job::FrameOutput& out) { job.Write(out); };
  stages.failed = [&](int f, const std::string& why) {
    if (!why.empty()) progress.Line("quorvex-render: frame " + std::to_string(f) + ": " + why);
    failed.push_back(f);
    progress.Line("quorvex-render: frame " + std::to_string(f) + " failed; no file written");
  };
  stages.cancelled = [] { return g_interrupted != 0; };
  stages.fail_fast = o.fail_fast;
  // A single frame's unreadable input is a usage error (exit 2) and a failed
  // write a frame failure (exit 1); in a sequence either fails only its frame.
  stages.pass_on = !sequence;
  int last = frames.front();
  if (frame_pipeline::Run(frames, stages, &last) == frame_pipeline::End::Cancelled) {
    progress.Finish();
    std::fprintf(stderr, "quorvex-render: cancelled at frame %d; finished frames are kept\n", last);
    g_running_tool.store(nullptr);
    return kExitCancelled;
  }
  g_running_tool.store(nullptr);
  progress.Finish();
  if (!failed.empty()) {
    std::string list;
    for (int f : failed) list += (list.empty() ? "" : ", ") + std::to_string(f);
    const bool stopped = o.fail_fast && frames.size() > 1;
    std::fprintf(stderr, "quorvex-render: %zu of %zu frames failed: %s%s\n", failed.size(), frames.size(),
                 list.c_str(), stopped ? " (--fail-fast: stopped there)" : "");
    return kExitFrameFailed;
  }
  if (!o.quiet && frames.size() == 1)
    std::fprintf(stderr, "quorvex-render: wrote %s%s%s\n", o.output.c_str(), o.preview.empty() ? "" : " and ",
                 o.preview.c_str());
  return kExitOk;
}

}  // namespace

int RunCommand(const RenderOptions& o) {
  try {
    // More threads than cores are what was asked for: lift the thread
    // library's limit instead of letting it print a warning and ignore them.
    std::unique_ptr<tbb::global_control> threads;
    if (o.threads > 0)
      threads = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, size_t(o.threads));
    SetHostThreads(o.threads);
    exr_file::SetThreads(o.threads);
    auto modules = LoadPlugins(o.plugin_path);
    if (o.list_tools) {
      PrintTools();
      return kExitOk;
    }
    Registry* reg = HostClassRegistry().Find(kToolClass);
    if (!reg) throw UsageError(std::string("no plug-in registers the tool class ") + kToolClass);
    HostDoc doc([](int, const std::string& text) { std::fputs(text.c_str(), stderr); });
    ToolHandle tool;
    tool.op = reg->Create(&doc);
    Operator& op = *tool.op;
    auto warn = [](const std::string& w) { std::fprintf(stderr, "%s\n", w.c_str()); };
    // What the user set on purpose: every --set, and a comp's values that differ from the defaults.
    std::vector<ControlEdit> explicit_edits;
    if (!o.comp.empty()) {
      // A saved value outside a control's range is the tool's own doing when
      // the tool's rules bring it back once the whole comp is in (an f-stop
      // below 1 reached through "ApertureDiameter"): that one loads silently.
      std::vector<std::pair<ControlEdit, std::vector<std::string>>> loaded;
      for (const ControlEdit& e : comp_file::Load(o.comp, op)) {
        const Input* in = op.FindInput(e.id);
        if (e.kind != ControlEdit::Constant || (in && e.value != in->Default)) explicit_edits.push_back(e);
        std::vector<std::string> warnings;
        ApplyEdit(op, e, [&](const std::string& w) { warnings.push_back(w); });
        loaded.emplace_back(e, std::move(warnings));
      }
      for (const auto& [e, warnings] : loaded) {
        const Input* in = op.FindInput(e.id);
        const bool restored = e.kind == ControlEdit::Constant && in && !in->Animated() && in->Constant() == e.value;
        if (!restored)
          for (const std::string& w : warnings) warn(w);
      }
    }
    for (const std::string& s : o.sets) {
      explicit_edits.push_back(ParseSetArgument(op, s));
      ApplyEdit(op, explicit_edits.back(), warn);
    }
    if (!o.list_tools)
      for (const std::string& w : HiddenControlWarnings(op, *reg, explicit_edits)) warn(w);
    if (!o.focus_at.empty())
      for (const ControlEdit& e : explicit_edits)
        if (e.id == "FocusPosition") {
          warn("warning: --focus-at replaces the FocusPosition that was set");
          break;
        }
    if (!o.save_comp.empty()) {
      // Saving over the comp that was loaded is an update of it; any other input is refused.
      for (const std::string* in : {&o.input, &o.motion, &o.depth, &o.blur_image})
        if (!in->empty() && SameFile(*in, o.save_comp))
          throw UsageError("refusing to overwrite input " + *in + " with --save-comp; choose another comp path");
      if (!o.output.empty() && SameFile(o.output, o.save_comp))
        throw UsageError("--output and --save-comp name the same file " + o.save_comp);
      MakeFolderFor(o.save_comp, "--save-comp");
      comp_file::Save(o.save_comp, op);
    }
    if (o.list_controls) {
      if (o.list_long)
        PrintControlsLong(op);
      else
        PrintControls(op);
      return kExitOk;
    }
    if (o.input.empty() && o.output.empty() && !o.save_comp.empty()) return kExitOk;
    if (o.input.empty() || o.output.empty())
      throw UsageError("nothing to render: give --input IN and --output OUT (or --list-tools, --list-controls)");
    const ToolServices* services = nullptr;
    for (const auto& m : modules)
      if (std::find(m->Classes().begin(), m->Classes().end(), reg) != m->Classes().end()) services = m->Services();
    return Render(o, op, services);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorvex-render: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-render: %s\n", e.what());
    return kExitFrameFailed;
  }
}
