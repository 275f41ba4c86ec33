#pragma once
// A chunk's span kernels, queued while the chunk splats and added into the
// frame's column differences afterwards, one row at a time. The queues of
// several chunks then take turns on each row while that row is in cache:
// added chunk by chunk, a wide kernel brought its rows through memory once
// per chunk.
#include <cstdint>
#include <vector>

#include "motion/vector_kernels.h"

namespace splat {

class SpanQueue {
 public:
  bool Empty() const { return copies_.empty(); }
  // A copy whose colours (see SpanCopy) were stored from ColourStore()'s
  // size on.
  void Push(const SpanCopy& copy) { copies_.push_back(copy); }
  std::vector<float>& ColourStore() { return colours_; }

  // Readies the rows first .. last (the chunk's band) for AddRow. May
  // allocate; AddRow does not.
  void BeginRows(int32_t first, int32_t last);
  int32_t FirstRow() const { return first_; }
  int32_t LastRow() const { return last_; }
  // Adds the copies' part of row r, rows in increasing order from FirstRow.
  void AddRow(const StepImage& steps, int32_t r);
  size_t Bytes() const { return copies_.size() * sizeof(SpanCopy) + colours_.size() * sizeof(float); }
  // Empties the queue, keeping its memory.
  void Clear();

 private:
  std::vector<SpanCopy> copies_;
  std::vector<float> colours_;
  std::vector<uint32_t> order_, active_;
  std::vector<double> taps_;
  size_t next_ = 0;
  int32_t first_ = 0, last_ = -1;
};

}  // namespace splat
