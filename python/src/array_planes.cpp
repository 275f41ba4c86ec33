#include "python/src/array_planes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "python/src/errors.h"

namespace {

std::string ShapeText(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

std::string Expected(const std::vector<int>& channels) {
  std::string s;
  for (size_t i = 0; i < channels.size(); ++i)
    s += (i ? " or " : "") + std::string(channels[i] == 0 ? "H x W" : "H x W x " + std::to_string(channels[i]));
  return s;
}

}  // namespace

ArrayPlanes ReadArray(py::handle obj, const std::string& what, const std::vector<int>& channels, int height,
                      int width) {
  if (!py::isinstance<py::array>(obj))
    throw QuorvexError(what + " must be a numpy array (" + Expected(channels) + ", float32 or float16), not " +
                       std::string(py::str(py::type::of(obj).attr("__name__"))));
  py::array a = py::reinterpret_borrow<py::array>(obj);
  const py::dtype f32 = py::dtype::of<float>(), f16("float16");
  if (!a.dtype().is(f32) && !a.dtype().equal(f32) && !a.dtype().equal(f16))
    throw QuorvexError(what + " must be float32 or float16, not " + std::string(py::str(a.dtype())) +
                       " (convert with .astype(numpy.float32))");
  const int ndim = int(a.ndim());
  const int c = ndim == 3 ? int(a.shape(2)) : 0;
  if ((ndim != 2 && ndim != 3) || std::find(channels.begin(), channels.end(), c) == channels.end())
    throw QuorvexError(what + " must have the shape " + Expected(channels) + ", not " + ShapeText(a));
  const int h = int(a.shape(0)), w = int(a.shape(1));
  if (h <= 0 || w <= 0) throw QuorvexError(what + " is empty: shape " + ShapeText(a));
  if ((height >= 0 && h != height) || (width >= 0 && w != width))
    throw QuorvexError(what + " is " + std::to_string(w) + " x " + std::to_string(h) + " pixels but the image is " +
                       std::to_string(width) + " x " + std::to_string(height) + " (shape " + ShapeText(a) + ")");
  // float16 is widened here, on the way in; any layout becomes C order.
  auto data = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(a);
  if (!data) throw QuorvexError(what + ": cannot read the array as float32");
  const int n = std::max(c, 1);
  ArrayPlanes out;
  out.height = h;
  out.width = w;
  out.planes.assign(size_t(n), LargeVector<float>(size_t(h) * size_t(w)));
  const float* src = data.data();
  for (size_t i = 0; i < size_t(h) * size_t(w); ++i)
    for (int k = 0; k < n; ++k) {
      const float v = src[i * size_t(n) + size_t(k)];
      if (std::isnan(v))
        throw QuorvexError(what + " holds NaN at row " + std::to_string(i / size_t(w)) + ", column " +
                           std::to_string(i % size_t(w)) + (c ? ", channel " + std::to_string(k) : std::string()));
      out.planes[size_t(k)][i] = v;
    }
  return out;
}

void AddPlanes(FileImage& file, ArrayPlanes&& parts, const std::vector<std::string>& names) {
  if (file.names.empty()) {
    file.width = parts.width;
    file.height = parts.height;
  }
  for (size_t k = 0; k < parts.planes.size() && k < names.size(); ++k) {
    file.names.push_back(names[k]);
    file.types.push_back(SampleType::Float);
    file.planes.push_back(std::move(parts.planes[k]));
  }
}

py::array_t<float> InterleavedArray(const std::vector<const float*>& planes, int height, int width) {
  const size_t n = planes.size();
  py::array_t<float> out({py::ssize_t(height), py::ssize_t(width), py::ssize_t(n)});
  float* dst = out.mutable_data();
  for (size_t i = 0; i < size_t(height) * size_t(width); ++i)
    for (size_t k = 0; k < n; ++k) dst[i * n + k] = planes[k][i];
  return out;
}

py::array_t<float> PlaneArray(const float* plane, int height, int width) {
  py::array_t<float> out({py::ssize_t(height), py::ssize_t(width)});
  std::memcpy(out.mutable_data(), plane, sizeof(float) * size_t(height) * size_t(width));
  return out;
}
