#pragma once
// quorvex.Tool: one Quorvex tool made from the loaded plug-in module, its
// controls, comp files and frames rendered from numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/frame_render.h"
#include "host/Operator.h"

namespace py = pybind11;

struct RenderArgs {
  py::object rgba, depth, motion, blur_image;
  double frame = 1.0;
  int threads = 0;
  std::string vectors = "pixels", depth_mode = "distance";
  double vectors_scale = 1.0, depth_scale = 1.0;
};

class PyTool {
 public:
  PyTool();
  ~PyTool();
  PyTool(const PyTool&) = delete;
  PyTool& operator=(const PyTool&) = delete;

  // Gives the tool back to the host now; later calls raise quorvex.Error.
  void Close();

  py::list Controls() const;
  py::object Get(const std::string& id, const py::object& frame) const;
  py::dict Keys(const std::string& id) const;
  void Set(const std::string& id, const py::object& value, const py::object& frame);
  void LoadComp(const std::string& path);
  void SaveComp(const std::string& path) const;
  std::string CompText() const;
  py::array_t<float> Render(const RenderArgs& args);
  // Console lines (kind, text) of the last render.
  py::list Messages() const;

 private:
  Operator& Op() const;
  Image* RunInterruptible(const FrameInputs& images, double frame);
  void Console(int kind, const std::string& text);

  HostDoc doc_;
  Operator* op_ = nullptr;
  std::mutex busy_;
  mutable std::mutex console_mutex_;
  std::vector<std::pair<int, std::string>> console_;
};
