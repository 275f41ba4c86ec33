// _quorvex: the compiled part of the quorvex package.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "app/usage_error.h"
#include "host/Object.h"
#include "python/src/errors.h"
#include "python/src/file_calls.h"
#include "python/src/plugin_search.h"
#include "python/src/py_tool.h"

namespace py = pybind11;

PYBIND11_MODULE(_quorvex, m) {
  m.doc() = "Compiled part of quorvex; use the quorvex package.";
  m.attr("__version__") = QUORVEX_VERSION;
  static py::exception<QuorvexError>& error = py::register_exception<QuorvexError>(m, "Error", PyExc_RuntimeError);
  error.doc() = "A bad argument, an unreadable file or an error reported by the tool (its own message).";
  // The command's usage errors (unknown control, unreadable file) are the
  // same kind of failure here.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const UsageError& e) {
      error(e.what());
    }
  });

  py::class_<PyTool>(m, "Tool", "A Quorvex tool, made by the installed plug-in module.")
      .def(py::init<>())
      .def("close", &PyTool::Close, "Give the tool back to the host now.")
      .def("controls", &PyTool::Controls, "Every input of the tool, in the panel's order, as dicts.")
      .def("get", &PyTool::Get, py::arg("identifier"), py::arg("frame") = py::none(),
           "A control's value (at a frame when it is animated).")
      .def("keys", &PyTool::Keys, py::arg("identifier"), "A control's keyframes {frame: value}.")
      .def("set", &PyTool::Set, py::arg("identifier"), py::arg("value"), py::arg("frame") = py::none(),
           "Edit a control as a user would; a frame sets a keyframe.")
      .def("load_comp", &PyTool::LoadComp, py::arg("path"), "Apply the control values of a comp file.")
      .def("save_comp", &PyTool::SaveComp, py::arg("path"), "Save the control values as a comp file.")
      .def("comp_text", &PyTool::CompText, "The comp file's JSON text of the current values.")
      .def("messages", &PyTool::Messages, "Console lines (kind, text) of the last render.")
      .def(
          "render",
          [](PyTool& t, py::object rgba, py::object depth, py::object motion, py::object blur_image, double frame,
             int threads, std::string vectors, std::string depth_mode, double vectors_scale, double depth_scale) {
            RenderArgs a;
            a.rgba = std::move(rgba);
            a.depth = std::move(depth);
            a.motion = std::move(motion);
            a.blur_image = std::move(blur_image);
            a.frame = frame;
            a.threads = threads;
            a.vectors = std::move(vectors);
            a.depth_mode = std::move(depth_mode);
            a.vectors_scale = vectors_scale;
            a.depth_scale = depth_scale;
            return t.Render(a);
          },
          py::arg("rgba"), py::arg("depth") = py::none(), py::arg("motion") = py::none(),
          py::arg("blur_image") = py::none(), py::arg("frame") = 1.0, py::arg("threads") = 0,
          py::arg("vectors") = "pixels", py::arg("depth_mode") = "distance", py::arg("vectors_scale") = 1.0,
          py::arg("depth_scale") = 1.0, "Render one frame from numpy arrays; returns H x W x 4 float32.");

  m.def("read_file", &ReadFile, py::arg("path"), "Read every channel of an image file.");
  m.def("write_file", &WriteFile, py::arg("path"), py::arg("channels"), py::arg("like") = py::none(),
        "Write channels to an image file.");
  m.def("live_objects", &RefObject::LiveObjects, "Host objects alive now (tools, inputs, images).");
  m.def("plugin_files", [] {
    EnsurePluginsLoaded();
    return LoadedPluginFiles();
  }, "Files of the loaded plug-in modules.");
}
