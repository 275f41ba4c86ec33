#include "motion/blur_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>

#include "motion/moving_group.h"
#include "motion/streak_layout.h"

namespace blur {

namespace {

// Largest band a chunk keeps privately (pixels); a chunk that would need more
// (streaks crossing most of a very large frame) splats straight into the
// shared images instead.
constexpr int64_t kBandBudget = int64_t(8) << 20;

// Flushed (all-zero) bands kept from one pass to the next, up to this many
// bytes: a sequence's frames then reuse their memory instead of faulting in
// and zeroing new pages every frame.
constexpr size_t kKeptBandBytes = size_t(64) << 20;

// Rows that the points of sample `p` (kernel half side h) can write.
std::pair<int64_t, int64_t> RowReach(const pixel_sample& p, bool still, int32_t h, bool mirror, int32_t H) {
  const double y = std::floor(double(p.y));
  double lo = y, hi = y + 1;
  if (!still) {
    const double ax = std::fabs(double(p.vx)), ay = std::fabs(double(p.vy));
    // A streak moves at most half its velocity (plus the end point) along y.
    lo = y - ay / 2 - 2;
    hi = y + ay / 2 + 3;
    if (mirror && ay > ax && (lo < 0 || hi > H - 1)) {
      lo = 0;
      hi = H;
    }
  }
  lo = std::max(lo - h, -1.0);
  hi = std::min(hi + h, double(H));
  return {int64_t(lo), int64_t(hi)};
}

// RowReach of a still sample, in integers.
std::pair<int64_t, int64_t> StillRowReach(const pixel_sample& p, int32_t h, int32_t H) {
  const int64_t y = splat::FloorToInt(p.y);
  return {std::max<int64_t>(y - h, -1), std::min<int64_t>(y + 1 + h, H)};
}

}  // namespace

void BlurPass::Begin(const PassInputs& in) {
  in_ = in;
  spans_.clear();
  bordered_.clear();
  bool any_spans = false;
  for (const auto& kern : *in.bank) {
    spans_.push_back(in.span_kernels ? dof::FindSpans(kern) : dof::KernelSpans());
    any_spans = any_spans || !spans_.back().Empty();
    // Taps of moving samples' streaks read their kernel inside a zero border.
    const int32_t d = 2 * splat::KernelHalfSide(int32_t(bordered_.size()), in.depth.kernel_step) + 1;
    const bool taps = (spans_.back().Empty() || d <= in.max_walked_tap_side) && d > 1 && kern.size() == size_t(d) * size_t(d);
    bordered_.push_back(taps ? splat::ZeroBordered(kern.data(), d) : std::vector<float>());
  }
  // Kept from frame to frame while the size holds and the last pass summed
  // (and so zeroed) it.
  if (!any_spans || !steps_summed_) ReleaseSteps();
  if (any_spans && in.image.width > 0 && in.image.height > 0) {
    const size_t pixels = size_t(in.image.width) * size_t(in.image.height);
    if (steps_.width != in.image.width || steps_written_.size() != size_t(in.image.height)) {
      ReleaseSteps();
      steps_.width = in.image.width;
      // Zero pages from calloc: the second differences take memory only in
      // rows that hold boxes.
      for (double** planes : {steps_.plane, steps_.second})
        for (int c = 0; c < 5; ++c) {
          planes[c] = static_cast<double*>(std::calloc(pixels, sizeof(double)));
          if (!planes[c]) {
            ReleaseSteps();
            throw std::bad_alloc();
          }
        }
    }
    steps_written_.assign(size_t(in.image.height), {INT32_MAX, INT32_MIN});
    steps_boxed_.assign(size_t(in.image.height), 0);
    steps_.written = steps_written_.data();
    steps_.boxed = steps_boxed_.data();
    steps_summed_ = false;
  }
  const size_t chunks = ChunkCount(in.count);
  span_rows_.reset(new std::atomic<int32_t>[chunks]);
  for (size_t c = 0; c < chunks; ++c) span_rows_[c].store(kSpansNotStarted, std::memory_order_relaxed);
  spans_done_below_.store(0, std::memory_order_relaxed);
  queued_.clear();
  queued_.resize(chunks);
  spans_parked_.assign(chunks, 0);
  next_span_chunk_ = 0;
  queued_bytes_ = 0;
  parked_.clear();
  parked_.resize(chunks);
  parked_filler_.assign(chunks, std::thread::id());
  done_.assign(chunks, 0);
  next_ = 0;
  flushing_ = false;
}

void SplatStreakDirect(const PassInputs& in, const pixel_sample& p, int32_t k, float* scratch) {
  const int32_t h = splat::KernelHalfSide(k, in.depth.kernel_step);
  const float* kern = (*in.bank)[size_t(k)].data();
  RowLocks& locks = *in.row_locks;
  auto rows = splat::MakeImageRows(in.image, [&locks](int32_t r) { return boost::mutex::scoped_lock(*locks[size_t(r)]); });
  streak::LayOut(p, in.mirror, in.image.width, in.image.height, h + 1, [&](const pixel_sample& q) {
    if (splat::Lands(q)) splat::MergedFootprint(rows, q, kern, h, scratch);
  });
}

void BlurPass::RunChunk(int32_t chunk, const std::atomic<int>& abort) {
  if (chunk < 0 || size_t(chunk) >= done_.size()) return;
  std::unique_ptr<splat::LocalBand> band;
  std::unique_ptr<splat::SpanQueue> spans;
  try {
    const size_t first = size_t(chunk) * kSamplesPerChunk;
    const size_t end = std::min(first + kSamplesPerChunk, in_.count);
    const int32_t W = in_.image.width, H = in_.image.height;
    const int32_t bank_size = int32_t(in_.bank->size());
    // Each sample's kernel (all points of a streak share their sample's
    // depth; neighbours often share it too) and the rows the chunk writes.
    ChunkKernels kernels;
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    int32_t hmax = 0;
    float last_depth = std::numeric_limits<float>::quiet_NaN();
    int32_t last_k = 0, h = 0;
    bool last_spans = false;
    for (size_t i = first; i < end; ++i) {
      const pixel_sample& s = in_.samples[i];
      if (!(s.depth == last_depth)) {
        last_depth = s.depth;
        last_k = dof::KernelIndex(in_.depth, bank_size, s.depth);
        h = splat::KernelHalfSide(last_k, in_.depth.kernel_step);
        hmax = std::max(hmax, h);
        last_spans = SpansOf(last_k) != nullptr;
        (last_spans ? kernels.spans : kernels.taps) = true;
      }
      const bool still = streak::IsStill(s);
      // A walked streak under a span kernel may go tap by tap (see
      // PassInputs::max_walked_tap_side): the band then needs its planes.
      if (!still && last_spans) kernels.taps = true;
      kernels.index[i - first] = last_k;
      kernels.still[i - first] = still;
      // Still samples sit at pixel centres, which always land in the image.
      const auto reach = still && splat::Lands(s) ? StillRowReach(s, h, H) : RowReach(s, still, h, in_.mirror, H);
      lo = std::min(lo, reach.first);
      hi = std::max(hi, reach.second);
    }
    kernels.hmax = hmax;
    lo = std::max<int64_t>(lo, 0);
    hi = std::min<int64_t>(hi, H - 1);
    const bool direct = lo <= hi && (hi - lo + 1) * int64_t(W) > kBandBudget;
    // Later chunks learn which rows of the differences to wait for.
    span_rows_[size_t(chunk)].store(kernels.spans && !direct && lo <= hi ? int32_t(lo) : kSpansDone,
                                    std::memory_order_release);
    if (direct) {
      std::vector<float> scratch(splat::ScratchSize(hmax), 0.0f);
      for (size_t i = first; i < end && !abort.load(std::memory_order_relaxed); ++i)
        SplatStreakDirect(in_, in_.samples[i], kernels.index[i - first], scratch.data());
    } else if (lo <= hi) {
      {
        std::lock_guard<std::mutex> guard(mutex_);
        // The newest band this thread wrote, else the newest of all.
        if (!free_.empty()) {
          size_t pick = free_.size() - 1;
          for (size_t i = free_.size(); i-- > 0;)
            if (free_writer_[i] == std::this_thread::get_id()) {
              pick = i;
              break;
            }
          band = std::move(free_[pick]);
          free_.erase(free_.begin() + ptrdiff_t(pick));
          free_writer_.erase(free_writer_.begin() + ptrdiff_t(pick));
        }
      }
      if (!band) band = std::make_unique<splat::LocalBand>();
      band->Reset(W, int32_t(lo), int32_t(hi), kernels.taps);
      Splat(first, end, kernels, *band, abort);
      if (!band->Spans().Empty()) {
        {
          std::lock_guard<std::mutex> guard(spans_mutex_);
          if (!free_queues_.empty()) {
            spans = std::move(free_queues_.back());
            free_queues_.pop_back();
          }
        }
        if (!spans) spans = std::make_unique<splat::SpanQueue>();
        std::swap(*spans, band->Spans());
        spans->BeginRows(int32_t(lo), int32_t(hi));
      }
    }
  } catch (...) {
    QueueSpans(chunk, nullptr);
    Publish(chunk, nullptr);
    throw;
  }
  try {
    Publish(chunk, std::move(band));
  } catch (...) {
    QueueSpans(chunk, nullptr);  // or chunks waiting on it would wait for ever
    throw;
  }
  QueueSpans(chunk, std::move(spans));
}

void BlurPass::QueueSpans(int32_t chunk, std::unique_ptr<splat::SpanQueue> queue) {
  if (!queue) SpansDone(size_t(chunk));  // later chunks need not wait for it
  {
    std::lock_guard<std::mutex> guard(spans_mutex_);
    if (queue) queued_bytes_ += queue->Bytes();
    queued_[size_t(chunk)] = std::move(queue);
    spans_parked_[size_t(chunk)] = 1;
  }
  AddQueuedSpans();
}

// Takes groups of parked queues in chunk order: kSpanGroup of them, or the
// last ones of the pass, or (when too much is parked) whatever is ready.
void BlurPass::AddQueuedSpans() {
  for (;;) {
    size_t first;
    std::vector<std::unique_ptr<splat::SpanQueue>> group;
    // Nothing may throw once the group is taken: its chunks would never be
    // done, and later groups would wait for them for ever.
    group.reserve(kSpanGroup);
    {
      std::unique_lock<std::mutex> held(spans_mutex_);
      size_t end;
      for (;;) {
        first = next_span_chunk_;
        end = first;
        while (end < queued_.size() && end - first < kSpanGroup && spans_parked_[end]) ++end;
        if (end > first && (end - first == kSpanGroup || end == queued_.size() || queued_bytes_ > in_.queued_span_bytes))
          break;
        if (queued_bytes_ <= in_.queued_span_bytes) return;
        // Too much parked behind a chunk still splatting: wait for it (it
        // runs on another thread, as every earlier chunk has started).
        held.unlock();
        std::this_thread::yield();
        held.lock();
      }
      next_span_chunk_ = end;
      for (size_t c = first; c < end; ++c) {
        if (queued_[c]) queued_bytes_ -= queued_[c]->Bytes();
        group.push_back(std::move(queued_[c]));
      }
    }
    AddSpanGroup(first, group);
    std::lock_guard<std::mutex> guard(spans_mutex_);
    for (auto& q : group)
      if (q) {
        q->Clear();
        try {
          free_queues_.push_back(std::move(q));
        } catch (const std::bad_alloc&) {
          // Not kept for reuse, then; it goes with the group.
        }
      }
  }
}

// Row r of the differences takes a chunk's part once every chunk before it
// is past r (or will never write it), so that each value receives its
// additions in chunk order whatever the threads' timing. Groups are taken
// in chunk order, so the chunks before a group have all been taken. No row
// lock: that order alone keeps a row to one group at a time, and the
// images' rows stay free for the bands' flushes.
void BlurPass::AddSpanGroup(size_t first, std::vector<std::unique_ptr<splat::SpanQueue>>& group) {
  int32_t r0 = INT32_MAX, r1 = INT32_MIN;
  for (const auto& q : group)
    if (q) {
      r0 = std::min(r0, q->FirstRow());
      r1 = std::max(r1, q->LastRow());
    }
  for (int32_t r = r0; r <= r1; ++r) {
    for (size_t c = spans_done_below_.load(std::memory_order_acquire); c < first; ++c)
      for (;;) {
        const int32_t next = span_rows_[c].load(std::memory_order_acquire);
        if (next != kSpansNotStarted && next > r) break;
        std::this_thread::yield();
      }
    for (const auto& q : group)
      if (q && q->FirstRow() <= r && r <= q->LastRow()) q->AddRow(steps_, r);
    for (size_t i = 0; i < group.size(); ++i)
      if (group[i]) span_rows_[first + i].store(std::max(r + 1, group[i]->FirstRow()), std::memory_order_release);
  }
  for (size_t i = 0; i < group.size(); ++i)
    if (group[i]) SpansDone(first + i);
}

void BlurPass::SpansDone(size_t chunk) {
  span_rows_[chunk].store(kSpansDone, std::memory_order_release);
  std::lock_guard<std::mutex> guard(spans_mutex_);
  size_t below = spans_done_below_.load(std::memory_order_relaxed);
  while (below < spans_parked_.size() && span_rows_[below].load(std::memory_order_acquire) == kSpansDone) ++below;
  spans_done_below_.store(below, std::memory_order_release);
}

void BlurPass::Splat(size_t first, size_t end, const ChunkKernels& kernels, splat::LocalBand& b,
                     const std::atomic<int>& abort) const {
  const int32_t W = in_.image.width, H = in_.image.height;
  const float step = in_.depth.kernel_step;
  const int32_t* kernel = kernels.index;
  const bool* still = kernels.still;
  splat::MovingGroup& moving = b.Moving();
  const splat::LocalBand::RunStore runs = b.Runs();
  moving.Begin(b.Scratch(splat::ScratchSize(kernels.hmax)), in_.mirror, W, H);
  for (size_t i = first; i < end; ++i) {
    if (abort.load(std::memory_order_relaxed)) return;
    const pixel_sample& s = in_.samples[i];
    const int32_t k = kernel[i - first];
    const int32_t h = splat::KernelHalfSide(k, step);
    const float* kern = (*in_.bank)[size_t(k)].data();
    const dof::KernelSpans* spans = SpansOf(k);
    if (still[i - first]) {
      // Samples sit on whole pixels, so a still one is its kernel at its
      // pixel. Neighbours on the same row with the same kernel go together:
      // each output pixel sums their taps before it is added.
      if (!splat::Lands(s)) continue;
      const int32_t x0 = splat::FloorToInt(s.x), y0 = splat::FloorToInt(s.y);
      float* const weights = runs.weights;
      splat::Colour* const colours = runs.colours;
      const int32_t longest = spans ? splat::LocalBand::kMaxSpanRun : splat::LocalBand::kMaxRun;
      int32_t count = 0;
      weights[count] = s.weight;
      colours[count++] = s.color;
      while (count < longest && i + 1 < end) {
        const pixel_sample& n = in_.samples[i + 1];
        if (!still[i + 1 - first] || kernel[i + 1 - first] != k || n.y != s.y || n.x != s.x + float(count)) break;
        ++i;
        weights[count] = n.weight;
        colours[count++] = n.color;
      }
      if (spans)
        b.AddSpanStills(x0, y0, count, weights, colours, h, *spans);
      else if (count == 1)
        splat::AtPixel(b, x0, y0, s.weight, s.color, kern, h);
      else
        b.AddRunOfStills(x0, y0, count, weights, colours, kern, h);
      continue;
    }
    // Moving samples that follow one another go through together.
    for (size_t j = i;; ++j) {
      const int32_t kj = kernel[j - first];
      moving.Add(in_.samples[j], {(*in_.bank)[size_t(kj)].data(), bordered_[size_t(kj)].data(),
                                  splat::KernelHalfSide(kj, step), SpansOf(kj)});
      if (moving.Full() || j + 1 >= end || still[j + 1 - first]) {
        i = j;
        break;
      }
    }
    moving.Splat();
  }
}

void BlurPass::Publish(int32_t chunk, std::unique_ptr<splat::LocalBand> band) {
  std::unique_lock<std::mutex> held(mutex_);
  parked_[size_t(chunk)] = std::move(band);
  parked_filler_[size_t(chunk)] = std::this_thread::get_id();
  done_[size_t(chunk)] = 1;
  if (!flushing_) FlushInOrder(held, std::this_thread::get_id());
}

// Adds the bands of finished chunks in chunk order, from the first not yet
// added, while the next one is done and (given a `filler`) was filled by
// that thread. One thread at a time does this; the others park their bands
// and go on.
void BlurPass::FlushInOrder(std::unique_lock<std::mutex>& held, std::thread::id filler) {
  flushing_ = true;
  RowLocks& locks = *in_.row_locks;
  auto lock_row = [&locks](int32_t r) { return boost::mutex::scoped_lock(*locks[size_t(r)]); };
  while (next_ < done_.size() && done_[next_]) {
    if (filler != std::thread::id() && parked_[next_] && parked_filler_[next_] != filler) break;
    const std::thread::id writer = std::this_thread::get_id();
    std::unique_ptr<splat::LocalBand> band = std::move(parked_[next_++]);
    if (!band) continue;
    held.unlock();
    try {
      band->Flush(in_.image, lock_row);
    } catch (...) {
      held.lock();
      flushing_ = false;
      throw;
    }
    held.lock();
    free_.push_back(std::move(band));
    free_writer_.push_back(writer);
  }
  flushing_ = false;
}

void BlurPass::Finish() {
  {
    std::unique_lock<std::mutex> held(mutex_);
    // Chunks that never ran (a pass cut short) add nothing.
    for (size_t c = next_; c < done_.size(); ++c) done_[c] = 1;
    FlushInOrder(held);
  }
  // Chunks that never ran, or threw before they queued, add no spans.
  for (size_t c = 0; c < spans_parked_.size(); ++c)
    if (!spans_parked_[c]) {
      span_rows_[c].store(kSpansDone, std::memory_order_relaxed);
      spans_parked_[c] = 1;
    }
  AddQueuedSpans();
  AddSummedSteps();
  std::lock_guard<std::mutex> guard(mutex_);
  size_t kept = 0;
  free_.erase(std::remove_if(free_.begin(), free_.end(),
                             [&kept](const std::unique_ptr<splat::LocalBand>& b) {
                               kept += b->Bytes();
                               return kept > kKeptBandBytes;
                             }),
              free_.end());
  free_writer_.resize(free_.size());  // the kept bands are the first ones
  std::lock_guard<std::mutex> spans_guard(spans_mutex_);
  // Emptied queues for the next pass: a group's and the next one's.
  if (free_queues_.size() > 2 * kSpanGroup) free_queues_.resize(2 * kSpanGroup);
  parked_.clear();
  done_.clear();
}

void BlurPass::AddSummedSteps() {
  if (!steps_.plane[0]) return;
  RowLocks& locks = *in_.row_locks;
  for (int32_t r = 0; r < in_.image.height; ++r) {
    const auto w = steps_written_[size_t(r)];
    if (w.first > w.second) continue;
    const bool boxes = steps_boxed_[size_t(r)] != 0;
    const splat::PlanarRun d = steps_.At(r, 0), d2 = steps_.SecondAt(r, 0);
    splat::Colour* colour = in_.image.ColorRow(r);
    float* norm = in_.image.NormRow(r);
    // Past the last difference the running sums are zero.
    double sum[5] = {0, 0, 0, 0, 0}, sum2[5] = {0, 0, 0, 0, 0};
    boost::mutex::scoped_lock held(*locks[size_t(r)]);
    for (int32_t c = w.first; c <= w.second; ++c) {
      for (int k = 0; k < 5; ++k) {
        if (boxes) {
          sum2[k] += d2.plane[k][c];
          d2.plane[k][c] = 0.0;
        }
        sum[k] += d.plane[k][c] + sum2[k];
        d.plane[k][c] = 0.0;
      }
      colour[c].r += float(sum[0]);
      colour[c].g += float(sum[1]);
      colour[c].b += float(sum[2]);
      colour[c].a += float(sum[3]);
      norm[c] += float(sum[4]);
    }
    steps_written_[size_t(r)] = {INT32_MAX, INT32_MIN};
    steps_boxed_[size_t(r)] = 0;
  }
  steps_summed_ = true;
}

void BlurPass::ReleaseSteps() {
  for (double** planes : {steps_.plane, steps_.second})
    for (int c = 0; c < 5; ++c) {
      std::free(planes[c]);
      planes[c] = nullptr;
    }
  steps_written_.clear();
  steps_boxed_.clear();
  steps_.written = nullptr;
  steps_.boxed = nullptr;
  steps_.width = 0;
}

}  // namespace blur
