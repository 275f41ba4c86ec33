#include "image/tessaly_image.h"

#include "image/aligned_memory.h"

#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace tessaly_image {

void image_base::resize(int32_t w, int32_t h) {
  width = w;
  height = h;
  // Widths whose stride would not fit 32 bits leave a stride of 0; the buffer
  // allocation then fails and the channel reports it.
  int64_t stride = (int64_t(pixel_bytes) * w + 15) / 16 * 16;
  row_stride = stride <= std::numeric_limits<int32_t>::max() ? int32_t(stride) : 0;
}

void image_base::erase_channel(const std::string&) {}
void image_base::clear() {}

template <class T>
image<T>::~image() {
  clear();
}

template <class T>
T* image<T>::allocate() const {
  int64_t bytes = int64_t(row_stride) * int64_t(height);
  // Offsets are worked in 32-bit signed arithmetic: a buffer must stay below
  // 2^31 bytes, and a negative or overflowed size is a failed allocation.
  if (row_stride <= 0 && width > 0) return nullptr;
  if (bytes < 0 || bytes > std::numeric_limits<int32_t>::max()) return nullptr;
  return static_cast<T*>(AllocateAligned(size_t(bytes)));
}

template <class T>
void image<T>::resize(int32_t w, int32_t h) {
  if (w == width && h == height) return;
  image_base::resize(w, h);
  for (auto& ch : channels) {
    std::free(ch.second);
    ch.second = allocate();
  }
}

template <class T>
T* image<T>::channel_row(const std::string& name, int32_t y) {
  auto it = channels.find(name);
  if (it == channels.end()) it = channels.emplace(name, allocate()).first;
  if (!it->second) throw std::runtime_error("Image: Failed to allocate memory for channel " + name + "\n");
  return reinterpret_cast<T*>(reinterpret_cast<char*>(it->second) + int32_t(row_stride * y));
}

template <class T>
void image<T>::add_channel(const std::string& name) {
  char* row = reinterpret_cast<char*>(channel_row(name, 0));
  for (int32_t y = 0; y < height; ++y, row += row_stride) {
    T* px = reinterpret_cast<T*>(row);
    for (int32_t x = 0; x < width; ++x) px[x] = T{};
  }
}

template <class T>
void image<T>::erase_channel(const std::string& name) {
  image_base::erase_channel(name);
  auto it = channels.find(name);
  if (it == channels.end()) return;
  std::free(it->second);
  channels.erase(it);
}

template <class T>
void image<T>::clear() {
  image_base::clear();
  for (auto& ch : channels) std::free(ch.second);
  channels.clear();
}

namespace {
const char* type_name(const color_rgba_f*) { return "color_rgba_f"; }
const char* type_name(const float*) { return "float"; }
}  // namespace

template <class T>
std::string image<T>::pixel_type_name() const {
  return type_name(static_cast<const T*>(nullptr));
}

template class image<color_rgba_f>;
template class image<float>;

}  // namespace tessaly_image
