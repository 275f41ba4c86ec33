#pragma once
// numpy arrays in and out: H x W (x C) arrays, row 0 on top as in image
// files, copied to and from the host's float planes.
#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "app/image_io.h"

namespace py = pybind11;

// One array checked and split into planes.
struct ArrayPlanes {
  int height = 0, width = 0;
  std::vector<LargeVector<float>> planes;  // one per channel
};

// Reads `obj`, a float32 or float16 numpy array of H x W (when `channels`
// holds 0) or H x W x C for a C in `channels`. `height`/`width` of -1 accept
// any size, others must match. NaN is refused. Throws QuorvexError naming
// `what` and the problem.
ArrayPlanes ReadArray(py::handle obj, const std::string& what, const std::vector<int>& channels, int height = -1,
                      int width = -1);

// A file image in memory: channels named `names`, taken in order from `parts`.
void AddPlanes(FileImage& file, ArrayPlanes&& parts, const std::vector<std::string>& names);

// New float32 arrays: H x W x n of the given planes, or H x W of one plane.
py::array_t<float> InterleavedArray(const std::vector<const float*>& planes, int height, int width);
py::array_t<float> PlaneArray(const float* plane, int height, int width);
