#pragma once
// Planar working images: named channels of one pixel type, every buffer and
// row on a 16-byte boundary so that a colour pixel loads as one aligned
// four-float vector.
#include <cstdint>
#include <map>
#include <string>
#include <typeinfo>

namespace tessaly_image {

struct alignas(16) color_rgba_f {
  float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;

  struct rgb { float r, g, b; };
  rgb color() const { return {r, g, b}; }
  float alpha() const { return a; }
};
static_assert(sizeof(color_rgba_f) == 16, "a colour pixel is four floats");

// Bytes from one row to the next: pixel_bytes * width rounded up to 16, in
// 32-bit signed arithmetic.
inline int32_t row_stride_for(int32_t pixel_bytes, int32_t width) { return (pixel_bytes * width + 15) / 16 * 16; }

class image_base {
 public:
  explicit image_base(int32_t pixel_bytes) : pixel_bytes(pixel_bytes) {}
  virtual ~image_base() = default;
  virtual void resize(int32_t w, int32_t h);
  virtual void add_channel(const std::string& name) = 0;
  virtual void erase_channel(const std::string& name);
  virtual void clear();
  virtual std::string pixel_type_name() const = 0;
  virtual bool is_pixel_type(const std::type_info& type) const = 0;

  int32_t width = 0;
  int32_t height = 0;
  int32_t row_stride = 0;
  const int32_t pixel_bytes;
};

template <class T>
class image : public image_base {
 public:
  image() : image_base(int32_t(sizeof(T))) {}
  ~image() override;
  image(const image&) = delete;
  image& operator=(const image&) = delete;

  void resize(int32_t w, int32_t h) override;
  void add_channel(const std::string& name) override;
  void erase_channel(const std::string& name) override;
  void clear() override;
  std::string pixel_type_name() const override;
  bool is_pixel_type(const std::type_info& type) const override { return type == typeid(T); }

  // Address of row y of the named channel, creating the channel (contents
  // undefined) when absent. Throws std::runtime_error when the channel has
  // no buffer because its allocation failed.
  T* channel_row(const std::string& name, int32_t y);

  std::map<std::string, T*> channels;

 private:
  T* allocate() const;
};

extern template class image<color_rgba_f>;
extern template class image<float>;

}  // namespace tessaly_image
