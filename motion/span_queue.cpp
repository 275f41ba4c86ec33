#include "motion/span_queue.h"

#include <algorithm>

namespace splat {

namespace {

// The last image row a span copy's footprint reaches.
int32_t LastRowOf(const SpanCopy& c) { return c.top + c.d - (c.fy > 0.0f ? 0 : 1); }

}  // namespace

void SpanQueue::BeginRows(int32_t first, int32_t last) {
  first_ = first;
  last_ = last;
  // Copies in order of their first row, so that AddRow takes them in as it
  // goes down.
  const size_t n = copies_.size();
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) order_[i] = uint32_t(i);
  auto first_row = [&](uint32_t i) { return std::max(copies_[i].top, first_); };
  std::stable_sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return first_row(a) < first_row(b); });
  int32_t dmax = 0;
  for (const SpanCopy& c : copies_) dmax = std::max(dmax, c.d);
  if (taps_.size() < size_t(dmax) + 2 + kRunPad) taps_.resize(size_t(dmax) + 2 + kRunPad);
  active_.clear();
  active_.reserve(n);
  next_ = 0;
}

void SpanQueue::AddRow(const StepImage& steps, int32_t r) {
  const size_t n = copies_.size();
  while (next_ < n && std::max(copies_[order_[next_]].top, first_) <= r) active_.push_back(order_[next_++]);
  // Copies whose last row is above r leave.
  active_.erase(std::remove_if(active_.begin(), active_.end(), [&](uint32_t i) { return LastRowOf(copies_[i]) < r; }),
                active_.end());
  int32_t c0 = INT32_MAX, c1 = INT32_MIN;
  bool boxed = false;
  for (uint32_t i : active_) {
    const SpanCopy& c = copies_[i];
    boxed = boxed || c.length > 1;
    c0 = std::min(c0, c.left);
    c1 = std::max(c1, c.left + c.count + c.length - 1 + c.d);
  }
  c0 = std::max(c0, 0);
  c1 = std::min(c1, steps.width - 1);
  if (c0 > c1) return;
  AddSpanRow({steps.At(r, 0), boxed ? steps.SecondAt(r, 0) : PlanarRun{}, steps.width, r, copies_.data(),
              active_.data(), active_.size(), colours_.data(), taps_.data()});
  auto& w = steps.written[r];
  w = {std::min(w.first, c0), std::max(w.second, c1)};
  if (boxed) steps.boxed[r] = 1;
}

void SpanQueue::Clear() {
  copies_.clear();
  colours_.clear();
  active_.clear();
  next_ = 0;
}

}  // namespace splat
