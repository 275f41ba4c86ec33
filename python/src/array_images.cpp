#include "python/src/array_images.h"

#include <utility>

#include "app/image_io.h"
#include "python/src/array_planes.h"
#include "python/src/image_ref.h"

namespace {

void AddPlane(FileImage& file, const std::string& name, LargeVector<float> plane) {
  file.names.push_back(name);
  file.types.push_back(SampleType::Float);
  file.planes.push_back(std::move(plane));
}

Image* HostImage(const FileImage& file) {
  ChannelPick pick;
  return MakeHostImage(file, {}, pick);
}

}  // namespace

Image* ColourImage(py::handle rgba) {
  FileImage file;
  file.path = "rgba";
  AddPlanes(file, ReadArray(rgba, "rgba", {4}), {"R", "G", "B", "A"});
  return HostImage(file);
}

Image* DepthImage(py::handle depth, const DepthConvention& convention) {
  FileImage file;
  file.path = "depth";
  ArrayPlanes p = ReadArray(depth, "depth", {0});
  LargeVector<float> grey = p.planes[0];
  AddPlanes(file, std::move(p), {"Z"});
  AddPlane(file, "Y", std::move(grey));
  ImageRef img{HostImage(file)};
  ApplyDepthConvention(*img.image, convention);
  return std::exchange(img.image, nullptr);
}

Image* MotionImage(py::handle motion, const VectorConvention& convention) {
  FileImage file;
  file.path = "motion";
  const bool blender = convention.preset == "blender";
  ArrayPlanes p = blender ? ReadArray(motion, "motion (vectors=\"blender\")", {4}) : ReadArray(motion, "motion", {2});
  LargeVector<float> red = p.planes[0], green = p.planes[1], blue(red.size(), 0.0f);
  AddPlanes(file, std::move(p),
            blender ? std::vector<std::string>{"Vector.X", "Vector.Y", "Vector.Z", "Vector.W"}
                    : std::vector<std::string>{"VectX", "VectY"});
  AddPlane(file, "R", std::move(red));
  AddPlane(file, "G", std::move(green));
  AddPlane(file, "B", std::move(blue));
  ChannelPick pick;
  ImageRef img{MakeHostImage(file, {}, pick)};
  ApplyVectorConvention(file, *img.image, pick, convention);
  return std::exchange(img.image, nullptr);
}

Image* ShapeImage(py::handle shape) {
  FileImage file;
  file.path = "blur_image";
  ArrayPlanes p = ReadArray(shape, "blur_image", {0, 3, 4});
  const bool grey = p.planes.size() == 1;
  AddPlanes(file, std::move(p), grey ? std::vector<std::string>{"Y"} : std::vector<std::string>{"R", "G", "B", "A"});
  return HostImage(file);
}
