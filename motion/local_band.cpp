#include "motion/local_band.h"

#include "image/aligned_buffer.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>

namespace splat {

LocalBand::~LocalBand() {
  std::free(color_);
  std::free(norm_);
}

namespace {
// Rows a band keeps beyond what its first chunk needs, so that the next
// chunks (the rows below) still fit.
constexpr int32_t kSpareRows = 48;
}  // namespace

bool LocalBand::Extend(int32_t width, int32_t lo, int32_t hi) {
  if (width != width_ || lo < r0_ || hi - r0_ + 1 > capacity_rows_) return false;
  if (hi > r1_) {
    spans_.resize(size_t(hi - r0_ + 1), {INT32_MAX, INT32_MIN});
    r1_ = hi;
  }
  return true;
}

void LocalBand::Reset(int32_t width, int32_t r0, int32_t r1) {
  const int32_t rows = r1 - r0 + 1 + kSpareRows;
  const size_t pixels = size_t(width) * size_t(rows);
  if (pixels > capacity_) {
    std::free(color_);
    std::free(norm_);
    color_ = nullptr;
    norm_ = nullptr;
    capacity_ = 0;
    const size_t cbytes = pixels * sizeof(tessaly_image::color_rgba_f);
    const size_t nbytes = (pixels * sizeof(float) + 15) / 16 * 16;
    color_ = static_cast<tessaly_image::color_rgba_f*>(tessaly_image::AllocateAligned(cbytes));
    norm_ = static_cast<float*>(tessaly_image::AllocateAligned(nbytes));
    if (!color_ || !norm_) throw std::bad_alloc();
    std::memset(static_cast<void*>(color_), 0, cbytes);
    std::memset(norm_, 0, nbytes);
    capacity_ = pixels;
  }
  capacity_rows_ = int32_t(capacity_ / size_t(std::max(width, 1)));
  width_ = width;
  r0_ = r0;
  r1_ = r1;
  spans_.assign(size_t(r1 - r0 + 1), {INT32_MAX, INT32_MIN});
}

Target LocalBand::Band() const {
  // Row-0 addresses placed so that absolute row r lands on band row r - r0.
  const int32_t cstride = width_ * int32_t(sizeof(tessaly_image::color_rgba_f));
  const int32_t nstride = width_ * int32_t(sizeof(float));
  auto* c0 = reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(color_) -
                                                            ptrdiff_t(r0_) * cstride);
  auto* n0 = reinterpret_cast<float*>(reinterpret_cast<char*>(norm_) - ptrdiff_t(r0_) * nstride);
  return {c0, n0, cstride, nstride, width_, r0_, r1_};
}

void BandPool::Give(std::unique_ptr<LocalBand> band) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(std::move(band));
}

void BandPool::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.clear();
}

}  // namespace splat
