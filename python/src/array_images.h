#pragma once
// The arrays of Tool.render as host images. Each array becomes an in-memory
// file that the command's own code turns into an image, so that names,
// conventions and checks are those of quorvex-render. Every function returns
// a new image the caller gives back with Recycle(), and throws QuorvexError
// (or the command's UsageError) naming the array and the problem.
#include <pybind11/pybind11.h>

#include "app/pass_conventions.h"
#include "host/Image.h"

namespace py = pybind11;

// H x W x 4 premultiplied RGBA.
Image* ColourImage(py::handle rgba);
// H x W depth, put through the depth convention. It also fills red, green
// and blue, so that every "Depth Channel" button reads it.
Image* DepthImage(py::handle depth, const DepthConvention& convention);
// H x W x 2 (or x 4 for "blender") vectors, put through the vector
// convention. Red and green carry the array's first two planes, for the
// "Red/Green" velocity button.
Image* MotionImage(py::handle motion, const VectorConvention& convention);
// The lens shape of Blur Style "Image": H x W grey, or H x W x 3 or 4.
Image* ShapeImage(py::handle shape);
