#pragma once
// The blur pass: every sample laid out as a streak along its velocity and
// every point splatted with its kernel into the shared accumulation images.
// The host runs RunChunk for each chunk index on its worker threads; the
// pass starts no threads of its own.
//
// Each chunk adds its points into a private band of rows, then the bands go
// into the shared images in chunk order, each row under its lock. Whatever
// the threads' timing, every pixel receives the same sums in the same order:
// the same input gives bit-identical output from run to run, at any thread
// count. A band that finishes before the chunks ahead of it waits, parked,
// for them. A band is added by the thread that filled it, while its cache
// still holds it (a band handed to the other core cost as much again to
// add): a band whose turn comes while its thread is busy waits for that
// thread's next chunk to end, or for Finish.
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "dof/depth_to_blur.h"
#include "dof/kernel_spans.h"
#include "motion/local_band.h"
#include "motion/span_queue.h"
#include "motion/splat.h"
#include "process/pixel_sample.h"

namespace blur {

constexpr size_t kSamplesPerChunk = 1000;
// Span kernels of this many consecutive chunks go into the differences
// together, row by row, so that a row of a wide kernel passes through
// memory once for them all instead of once per chunk (a 1920 x 1080 still
// frame at side 201, 2 threads: 0.77 s a chunk at a time, 0.49 s in groups
// of 8, 0.47 s in groups of 16). Chunks park their queues until their group
// is complete; past kQueuedSpanBytes parked, a thread takes what is ready,
// waiting for it if need be.
constexpr size_t kSpanGroup = 16;
constexpr size_t kQueuedSpanBytes = size_t(64) << 20;
inline size_t ChunkCount(size_t samples) { return (samples + kSamplesPerChunk - 1) / kSamplesPerChunk; }

// Largest span kernel side under which a walked streak (one that no
// neighbour moves alike with, as in most rendered motion) goes tap by tap,
// its points summed as weights: below it that costs less than adding each
// point's rims (a 12 px streak at side 101: 2.1 s against 5.0 s for a
// 960 x 135 frame; about even at 201). Runs of stills, alike runs and
// boxes along x keep the spans.
constexpr int32_t kMaxWalkedTapSide = 201;

using RowLocks = std::vector<boost::shared_ptr<boost::mutex>>;
using KernelBank = std::vector<std::vector<float>>;

// What one frame's pass reads; fixed while the pass runs.
struct PassInputs {
  const pixel_sample* samples = nullptr;
  size_t count = 0;
  const KernelBank* bank = nullptr;
  dof::DepthSettings depth;
  bool mirror = false;     // "EdgeCondition" is "Mirror"
  splat::Target image{};   // the accumulation images
  RowLocks* row_locks = nullptr;
  // False: every kernel tap by tap, the route before span kernels (for
  // benchmarks to compare against).
  bool span_kernels = true;
  // See kMaxWalkedTapSide (tests lower it to reach each point's rims on
  // small frames).
  int32_t max_walked_tap_side = kMaxWalkedTapSide;
  // See kQueuedSpanBytes (tests lower it so that chunks wait on the chunk
  // that holds their group back).
  size_t queued_span_bytes = kQueuedSpanBytes;
};

// One sample's streak (kernel index k) added straight into the shared images
// under the row locks: the route of chunks whose band would be too large.
// `scratch` holds splat::ScratchSize of the kernel's half side, zeroed.
void SplatStreakDirect(const PassInputs& in, const pixel_sample& p, int32_t k, float* scratch);

class BlurPass {
 public:
  // Before the chunks run.
  void Begin(const PassInputs& in);
  // One chunk: samples kSamplesPerChunk * chunk onwards. Stops early (its
  // points so far dropped) when `abort` is raised.
  void RunChunk(int32_t chunk, const std::atomic<int>& abort);
  // After every chunk ran (or the pass was cut short): adds what still
  // waits; keeps a few emptied bands for the next pass.
  void Finish();
  ~BlurPass() { ReleaseSteps(); }

 private:
  // A chunk's samples' kernel indices and whether each is still.
  struct ChunkKernels {
    int32_t index[kSamplesPerChunk];
    bool still[kSamplesPerChunk];
    int32_t hmax = 0;
    bool spans = false;  // some kernel goes as spans
    bool taps = false;   // some kernel goes tap by tap
  };
  // Entry k's spans, or null when it goes tap by tap.
  const dof::KernelSpans* SpansOf(int32_t k) const {
    return spans_[size_t(k)].Empty() ? nullptr : &spans_[size_t(k)];
  }
  void Splat(size_t first, size_t end, const ChunkKernels& kernels, splat::LocalBand& band,
             const std::atomic<int>& abort) const;
  void Publish(int32_t chunk, std::unique_ptr<splat::LocalBand> band);
  void FlushInOrder(std::unique_lock<std::mutex>& held, std::thread::id filler = std::thread::id());

  // Parks the chunk's queue of span kernels (null: none left to add), then
  // adds every group of parked queues that is ready (see kSpanGroup).
  void QueueSpans(int32_t chunk, std::unique_ptr<splat::SpanQueue> queue);
  void AddQueuedSpans();
  void AddSpanGroup(size_t first, std::vector<std::unique_ptr<splat::SpanQueue>>& group);
  void SpansDone(size_t chunk);
  // The frame's column differences summed along each row into the images.
  void AddSummedSteps();
  void ReleaseSteps();

  PassInputs in_;
  std::vector<dof::KernelSpans> spans_;  // per bank entry
  std::vector<std::vector<float>> bordered_;  // per entry whose walked streaks go tap by tap (see ZeroBordered)
  // The frame's column differences, when some entry goes as spans; the
  // bands add theirs here in chunk order, and Finish sums them once.
  splat::StepImage steps_{};
  std::vector<std::pair<int32_t, int32_t>> steps_written_;
  std::vector<uint8_t> steps_boxed_;
  bool steps_summed_ = true;
  // Per chunk: the next row of the differences it may write (its first
  // before it starts them), kSpansNotStarted before the chunk runs,
  // kSpansDone after.
  static constexpr int32_t kSpansNotStarted = INT32_MIN, kSpansDone = INT32_MAX;
  std::unique_ptr<std::atomic<int32_t>[]> span_rows_;
  std::atomic<size_t> spans_done_below_{0};  // every chunk before it is done
  std::mutex spans_mutex_;  // guards what follows
  std::vector<std::unique_ptr<splat::SpanQueue>> queued_;  // per chunk, parked until its group is taken
  std::vector<uint8_t> spans_parked_;
  size_t next_span_chunk_ = 0;  // the first chunk whose queue no thread has taken
  size_t queued_bytes_ = 0;     // in parked queues
  std::vector<std::unique_ptr<splat::SpanQueue>> free_queues_;
  std::mutex mutex_;  // guards what follows
  std::vector<std::unique_ptr<splat::LocalBand>> parked_;
  std::vector<std::thread::id> parked_filler_;  // the thread that filled each
  std::vector<uint8_t> done_;
  size_t next_ = 0;
  bool flushing_ = false;
  std::vector<std::unique_ptr<splat::LocalBand>> free_;
  std::vector<std::thread::id> free_writer_;  // the thread that last wrote each
};

}  // namespace blur
