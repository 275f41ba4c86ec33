#pragma once
// quorvex.read and quorvex.write, over the command's own image-file code.
#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

// {"width", "height", "channels": {name: H x W float32}, "attributes": {...}}
py::dict ReadFile(const std::string& path);

// Writes `channels` ({name: H x W array}); `like` names a file whose other
// channels and channel types are carried over. Returns nothing; raises
// quorvex.Error when the channels cannot make an image.
void WriteFile(const std::string& path, const py::dict& channels, const py::object& like);
