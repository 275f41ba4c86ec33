#include "app/pass_conventions.h"

#include <cfloat>
#include <cmath>

#include "app/usage_error.h"

namespace {

// A channel by exact name, or with any layer prefix ("ViewLayer.Vector.X").
const LargeVector<float>* Find(const FileImage& f, const std::string& name, std::string* found = nullptr) {
  for (size_t i = 0; i < f.names.size(); ++i) {
    const std::string& n = f.names[i];
    const bool match = n == name || (n.size() > name.size() && n[n.size() - name.size() - 1] == '.' &&
                                     n.compare(n.size() - name.size(), name.size(), name) == 0);
    if (match) {
      if (found) *found = n;
      return &f.planes[i];
    }
  }
  return nullptr;
}

const LargeVector<float>& Need(const FileImage& f, const std::string& preset, const std::string& name,
                               std::string* found) {
  if (const auto* p = Find(f, name, found)) return *p;
  throw UsageError(f.path + ": --vectors " + preset + " needs a channel \"" + name + "\" (with or without a layer "
                   "prefix); the file has " + f.ChannelList());
}

}  // namespace

bool IsVectorPreset(const std::string& n) {
  return n == "pixels" || n == "blender" || n == "forward" || n == "backward" || n == "ndc";
}
bool IsDepthMode(const std::string& n) { return n == "distance" || n == "inverse"; }

void ApplyVectorConvention(const FileImage& file, Image& img, ChannelPick& pick, const VectorConvention& c) {
  if (c.preset == "pixels" && c.scale == 1.0 && !c.flip_y) return;  // already the tool's convention
  const size_t n = size_t(img.Width) * size_t(img.Height);
  LargeVector<float> vx(n, 0.0f), vy(n, 0.0f);
  const std::string& p = c.preset;
  std::string name_x, name_y;
  if (p == "blender") {
    // X, Y: towards the previous frame; Z, W: from the next frame. The
    // motion across a one-frame shutter centred on the frame is their mean,
    // turned to point forwards.
    std::string z, w;
    const auto& X = Need(file, p, "Vector.X", &name_x);
    const auto& Y = Need(file, p, "Vector.Y", &name_y);
    const auto& Z = Need(file, p, "Vector.Z", &z);
    const auto& W = Need(file, p, "Vector.W", &w);
    for (size_t i = 0; i < n; ++i) {
      vx[i] = -(X[i] + Z[i]) / 2.0f;
      vy[i] = -(Y[i] + W[i]) / 2.0f;
    }
  } else if (p == "forward" || p == "backward") {
    const LargeVector<float>* u = Find(file, p + ".u", &name_x);
    const LargeVector<float>* v = Find(file, p + ".v", &name_y);
    if (!u || !v) {
      u = Find(file, p + ".x", &name_x);
      v = Find(file, p + ".y", &name_y);
    }
    if (!u || !v) {
      // Already mapped to VectX/VectY (by name or --channels).
      if (!img.Plane(CHAN_VECTX))
        throw UsageError(file.path + ": --vectors " + p + " needs \"" + p + ".u\"/\"" + p + ".v\" or channels mapped "
                         "to VectX/VectY; the file has " + file.ChannelList());
      std::copy(img.Plane(CHAN_VECTX), img.Plane(CHAN_VECTX) + n, vx.begin());
      std::copy(img.Plane(CHAN_VECTY), img.Plane(CHAN_VECTY) + n, vy.begin());
    } else {
      std::copy(u->begin(), u->end(), vx.begin());
      std::copy(v->begin(), v->end(), vy.begin());
    }
  } else {
    if (!img.Plane(CHAN_VECTX)) {
      if (p == "ndc")
        throw UsageError(file.path + ": --vectors ndc needs VectX/VectY (map them with --channels); the file has " +
                         file.ChannelList());
      throw UsageError(file.path + ": no motion vectors to scale or flip; the file has " + file.ChannelList());
    }
    std::copy(img.Plane(CHAN_VECTX), img.Plane(CHAN_VECTX) + n, vx.begin());
    std::copy(img.Plane(CHAN_VECTY), img.Plane(CHAN_VECTY) + n, vy.begin());
    if (p == "ndc")
      for (size_t i = 0; i < n; ++i) {
        vx[i] *= float(img.Width);
        vy[i] *= float(img.Height);
      }
  }
  const float sx = float(c.scale), sy = float(c.flip_y ? -c.scale : c.scale);
  img.AddChannel(CHAN_VECTX);
  img.AddChannel(CHAN_VECTY);
  float* X = img.Plane(CHAN_VECTX);
  float* Y = img.Plane(CHAN_VECTY);
  for (size_t i = 0; i < n; ++i) {
    X[i] = vx[i] * sx;
    Y[i] = vy[i] * sy;
  }
  // The converted vectors go out under the tool's names; a source channel
  // that stood in for them goes out again as it came.
  for (const char* role : {"VectX", "VectY"}) {
    auto it = pick.role_to_name.find(role);
    if (it == pick.role_to_name.end()) continue;
    const int i = file.Index(it->second);
    if (i >= 0) img.Extra.push_back({it->second, file.planes[size_t(i)]});
    pick.role_to_name.erase(it);
  }
}

void ApplyDepthConvention(Image& img, const DepthConvention& c) {
  float* z = img.Plane(CHAN_Z);
  if (!z || (c.mode == "distance" && c.scale == 1.0)) return;
  const size_t n = size_t(img.Width) * size_t(img.Height);
  for (size_t i = 0; i < n; ++i) {
    float v = z[i];
    // 1/z of 0 is a point at infinity: the largest distance the tool keeps.
    if (c.mode == "inverse") v = v == 0.0f ? FLT_MAX / 2.0f : 1.0f / v;
    z[i] = float(double(v) * c.scale);
  }
}
