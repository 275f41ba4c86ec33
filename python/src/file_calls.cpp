#include "python/src/file_calls.h"

#include <map>

#include "app/exr_file.h"
#include "app/image_io.h"
#include "python/src/array_planes.h"
#include "python/src/errors.h"
#include "python/src/image_ref.h"

namespace {

// The header's attributes of the first part, as Python values: an EXR
// file's as read, another format's through the image-library module.
py::dict Attributes(const FileImage& file) {
  std::vector<HeaderAttribute> attributes;
  if (file.exr) {
    attributes = exr_file::Attributes(file);
  } else if (!ImageLibrary().Attributes(file.path, attributes).empty()) {
    return py::dict();
  }
  py::dict out;
  for (const HeaderAttribute& a : attributes) {
    if (a.kind == HeaderAttribute::Integer)
      out[py::str(a.name)] = int64_t(a.number);
    else if (a.kind == HeaderAttribute::Real)
      out[py::str(a.name)] = a.number;
    else
      out[py::str(a.name)] = a.text;
  }
  return out;
}

}  // namespace

py::dict ReadFile(const std::string& path) {
  const FileImage file = ReadImageFile(path);
  py::dict channels;
  for (size_t c = 0; c < file.names.size(); ++c)
    channels[py::str(file.names[c])] = PlaneArray(file.planes[c].data(), file.height, file.width);
  py::dict out;
  out["path"] = path;
  out["width"] = file.width;
  out["height"] = file.height;
  out["channels"] = channels;
  out["attributes"] = Attributes(file);
  return out;
}

void WriteFile(const std::string& path, const py::dict& channels, const py::object& like) {
  if (channels.empty()) throw QuorvexError("write: no channels given");
  FileImage file;
  file.path = path;
  int h = -1, w = -1;
  if (!like.is_none()) {
    file = ReadImageFile(py::str(like).cast<std::string>());
    h = file.height;
    w = file.width;
  }
  for (auto item : channels) {
    if (!py::isinstance<py::str>(item.first)) throw QuorvexError("write: channel names must be str");
    const std::string name = item.first.cast<std::string>();
    ArrayPlanes p = ReadArray(item.second, "channel \"" + name + "\"", {0}, h, w);
    h = p.height;
    w = p.width;
    const int i = file.Index(name);
    if (i >= 0) {
      file.planes[size_t(i)] = std::move(p.planes[0]);  // replaces the like file's channel, keeping its type
    } else {
      AddPlanes(file, std::move(p), {name});
    }
  }
  ChannelPick pick;
  ImageRef img{MakeHostImage(file, {}, pick)};
  WriteImageFile(path, *img.image, &file, pick, OutputDepth::Auto);
}
