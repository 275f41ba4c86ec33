#include "python/src/py_tool.h"

#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "app/comp_file.h"
#include "app/control_edits.h"
#include "app/frame_render.h"
#include "host/Registry.h"
#include "python/src/array_images.h"
#include "python/src/array_planes.h"
#include "python/src/errors.h"
#include "python/src/image_ref.h"
#include "python/src/plugin_search.h"

namespace {

const char kToolClass[] = "tessalyworks.Quorvex";


// Edits that fall outside a control's range are refused rather than clamped:
// a script's value is never silently changed.
void RefuseOutOfRange(const std::string& warning) {
  std::string text = warning;
  if (text.rfind("warning: ", 0) == 0) text = text.substr(9);
  const size_t using_at = text.find("; using ");
  if (using_at != std::string::npos) text = text.substr(0, using_at);
  throw QuorvexError(text);
}

py::object ValueObject(const Input& in, double v) {
  if (in.ControlType == "CheckboxControl") return py::bool_(v > 0.5);
  return py::float_(v);
}

std::string LabelOf(const Input& in, double v) {
  if (in.Buttons.empty()) return {};
  const long i = std::lround(std::floor(v + 0.5));
  return i >= 0 && size_t(i) < in.Buttons.size() ? in.Buttons[size_t(i)] : std::string();
}

double NumberFrom(const Operator& op, const Input& in, const py::object& value) {
  if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? 1.0 : 0.0;
  if (py::isinstance<py::str>(value)) {
    const ControlEdit e = ParseSetArgument(op, in.ID + "=" + value.cast<std::string>());
    if (e.kind != ControlEdit::Constant)
      throw QuorvexError(in.ID + ": \"" + value.cast<std::string>() + "\" is not one value");
    return e.value;
  }
  if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value) ||
      py::hasattr(value, "__float__")) {
    const double v = value.cast<double>();
    if (std::isnan(v)) throw QuorvexError(in.ID + ": the value must be a number, not NaN");
    return v;
  }
  throw QuorvexError(in.ID + ": expected a number, a button label or True/False, not " +
                     std::string(py::str(py::type::of(value).attr("__name__"))));
}

}  // namespace

PyTool::PyTool() : doc_([this](int kind, const std::string& text) { Console(kind, text); }) {
  EnsurePluginsLoaded();
  Registry* reg = HostClassRegistry().Find(kToolClass);
  if (!reg) throw QuorvexError(std::string("the loaded plug-in registers no tool class ") + kToolClass);
  op_ = reg->Create(&doc_);
  if (!op_) throw QuorvexError("the plug-in could not make a tool");
}

// A render call holds a reference to its tool, so nothing renders here.
PyTool::~PyTool() {
  if (op_) op_->Recycle();
}

void PyTool::Close() {
  // Waiting here with the interpreter's lock held would stall the render's
  // own look for Ctrl-C, which takes that lock: refuse instead.
  std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
  if (!lock) throw QuorvexError("the tool is rendering; close it when the frame is done");
  if (op_) op_->Recycle();
  op_ = nullptr;
}

Operator& PyTool::Op() const {
  if (!op_) throw QuorvexError("this tool was closed");
  return *op_;
}

void PyTool::Console(int kind, const std::string& text) {
  std::lock_guard<std::mutex> lock(console_mutex_);
  console_.emplace_back(kind, text);
}

py::list PyTool::Messages() const {
  std::lock_guard<std::mutex> lock(console_mutex_);
  py::list out;
  for (auto& m : console_) out.append(py::make_tuple(m.first, m.second));
  return out;
}

py::list PyTool::Controls() const {
  py::list out;
  for (const Input* in : Op().Inputs()) {
    py::dict c;
    c["id"] = in->ID;
    c["name"] = in->Name();
    c["page"] = in->Page;
    c["kind"] = in->DataType == "Image" ? "image" : in->DataType == "Text" ? "text" : "number";
    c["control"] = in->ControlType;
    c["shown"] = in->Visible();
    c["buttons"] = py::cast(in->Buttons);
    py::object value = py::none(), label = py::none();
    if (in->DataType == "Text") {
      value = py::str(in->TextValue());
    } else if (in->DataType == "Number" && !in->Animated()) {
      value = ValueObject(*in, in->Constant());
      if (!in->Buttons.empty()) label = py::str(LabelOf(*in, in->Constant()));
    }
    c["value"] = value;
    c["label"] = label;
    c["animated"] = in->Animated();
    py::dict keys;
    for (auto& k : in->Keys()) keys[py::float_(k.first)] = py::float_(k.second);
    c["keys"] = keys;
    double lo = in->AcceptMin, hi = in->AcceptMax;
    if (!in->Buttons.empty()) {
      lo = 0.0;
      hi = double(in->Buttons.size() - 1);
    } else if (in->ControlType == "CheckboxControl") {
      lo = 0.0;
      hi = 1.0;
    }
    c["min"] = lo;
    c["max"] = hi;
    c["slider_min"] = in->SliderMin;
    c["slider_max"] = in->SliderMax;
    c["default"] = in->Default;
    out.append(c);
  }
  return out;
}

py::object PyTool::Get(const std::string& id, const py::object& frame) const {
  const Input& in = *FindControl(Op(), id);
  if (in.DataType == "Image") throw QuorvexError(id + " is an image input; images are passed to render()");
  if (in.DataType == "Text") return py::str(in.TextValue());
  if (frame.is_none()) {
    if (in.Animated())
      throw QuorvexError(id + " is animated: give frame= for its value at a frame, or use keys()");
    return ValueObject(in, in.Constant());
  }
  return ValueObject(in, in.ValueAt(frame.cast<double>()));
}

py::dict PyTool::Keys(const std::string& id) const {
  const Input& in = *FindControl(Op(), id);
  py::dict keys;
  for (auto& k : in.Keys()) keys[py::float_(k.first)] = py::float_(k.second);
  return keys;
}

void PyTool::Set(const std::string& id, const py::object& value, const py::object& frame) {
  std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
  if (!lock) throw QuorvexError("the tool is rendering; change its controls between frames");
  Operator& op = Op();
  const Input& in = *FindControl(op, id);
  if (in.DataType == "Image") throw QuorvexError(id + " is an image input; images are passed to render()");
  ControlEdit e;
  e.id = id;
  if (in.DataType == "Text") {
    if (!py::isinstance<py::str>(value)) throw QuorvexError(id + " is a text control; give a str");
    if (!frame.is_none()) throw QuorvexError(id + " is a text control; it has no keyframes");
    e.kind = ControlEdit::TextValue;
    e.text = value.cast<std::string>();
  } else if (frame.is_none()) {
    e.kind = ControlEdit::Constant;
    e.value = NumberFrom(op, in, value);
  } else {
    const double f = frame.cast<double>();
    if (!std::isfinite(f)) throw QuorvexError(id + ": the keyframe's frame must be a finite number");
    e.kind = ControlEdit::Keys;
    e.keys = in.Keys();  // a key joins the others; the first key starts the animation
    e.keys[f] = NumberFrom(op, in, value);
  }
  ApplyEdit(op, e, RefuseOutOfRange);
}

void PyTool::LoadComp(const std::string& path) {
  std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
  if (!lock) throw QuorvexError("the tool is rendering; load a comp file between frames");
  Operator& op = Op();
  // A saved value outside its range is clamped with a warning, as the command does.
  auto warn = [](const std::string& w) { py::module_::import("warnings").attr("warn")(w); };
  for (const ControlEdit& e : comp_file::Load(path, op)) ApplyEdit(op, e, warn);
}

void PyTool::SaveComp(const std::string& path) const { comp_file::Save(path, Op()); }

std::string PyTool::CompText() const { return comp_file::Serialize(Op()); }

Image* PyTool::RunInterruptible(const FrameInputs& images, double frame) {
  Operator& op = Op();
  op.Abort.store(0);
  Image* result = nullptr;
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  std::optional<py::error_already_set> interrupt;
  {
    py::gil_scoped_release unlocked;
    std::thread worker([&] {
      try {
        result = RenderFrame(op, images, frame);
      } catch (...) {
        failure = std::current_exception();
      }
      done.store(true);
    });
    // Python sees Ctrl-C only between bytecodes: look for it while the frame
    // renders and raise the tool's abort flag.
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (interrupt || done.load()) continue;
      py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() != 0) {
        interrupt.emplace();
        op.Abort.store(1);
      }
    }
    worker.join();
  }
  op.Abort.store(0);
  if (interrupt) {
    if (result) result->Recycle();
    throw *interrupt;
  }
  if (failure) std::rethrow_exception(failure);
  return result;
}

py::array_t<float> PyTool::Render(const RenderArgs& a) {
  std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
  if (!lock) throw QuorvexError("the tool is already rendering a frame; make one Tool per thread");
  Operator& op = Op();
  if (a.vectors != "pixels" && a.vectors != "blender" && a.vectors != "ndc")
    throw QuorvexError("vectors=\"" + a.vectors + "\": expected \"pixels\", \"blender\" or \"ndc\"");
  if (!IsDepthMode(a.depth_mode))
    throw QuorvexError("depth_mode=\"" + a.depth_mode + "\": expected \"distance\" or \"inverse\"");
  if (a.threads < 0 || a.threads > 1024) throw QuorvexError("threads must be 0 (one per core) to 1024");
  if (!std::isfinite(a.frame)) throw QuorvexError("frame must be a finite number");
  if (!std::isfinite(a.vectors_scale) || !std::isfinite(a.depth_scale))
    throw QuorvexError("vectors_scale and depth_scale must be finite numbers");

  // Connected where quorvex-render connects --input, --depth, --motion and
  // --blur-image; the tool itself checks that their sizes agree.
  ImageRef input{ColourImage(a.rgba)};
  ImageRef depth{a.depth.is_none() ? nullptr : DepthImage(a.depth, DepthConvention{a.depth_mode, a.depth_scale})};
  ImageRef motion{a.motion.is_none() ? nullptr
                                     : MotionImage(a.motion, VectorConvention{a.vectors, a.vectors_scale, false})};
  ImageRef blur{a.blur_image.is_none() ? nullptr : ShapeImage(a.blur_image)};
  if (a.depth.is_none() && op.FindInput("EnableDepth")->ValueAt(a.frame) > 0.5 &&
      op.FindInput("BlurChannel")->ValueAt(a.frame) < 0.5)
    throw QuorvexError("EnableDepth is on but no depth array was given (render(..., depth=Z))");

  {
    std::lock_guard<std::mutex> console(console_mutex_);
    console_.clear();
  }
  SetHostThreads(a.threads);
  FrameInputs images;
  images.input = input.image;
  images.depth = depth.image;
  images.motion = motion.image;
  images.blur = blur.image;
  ImageRef result{RunInterruptible(images, a.frame)};
  if (!result.image) {
    std::string message;
    {
      std::lock_guard<std::mutex> console(console_mutex_);
      for (auto& m : console_)
        if (m.first == CON_Error) message += m.second;
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    throw QuorvexError(message.empty() ? "the tool produced no image for frame " + std::to_string(a.frame)
                                       : message);
  }
  const Image& out = *result.image;
  return InterleavedArray({out.Plane(CHAN_RED), out.Plane(CHAN_GREEN), out.Plane(CHAN_BLUE), out.Plane(CHAN_ALPHA)},
                          out.Height, out.Width);
}
