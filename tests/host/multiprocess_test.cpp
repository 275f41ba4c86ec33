#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "host/Operator.h"

namespace {
struct Counter : ThreadedOperator {
  Counter(int n) : ThreadedOperator(nullptr, ScriptVal{}, {}), hits(size_t(n)) {}
  void ProcessChunk(Request*, int32_t c) override {
    if (c == throw_at) throw std::runtime_error("chunk failed");
    hits[size_t(c)].fetch_add(1);
  }
  std::vector<std::atomic<int>> hits;
  int throw_at = -1;
};
}  // namespace

// Every chunk once, and the progress a host is told counts up to all of
// them, each count once.
TEST(DoMultiProcess, RunsEveryChunkExactlyOnceAndReportsEach) {
  for (int threads : {1, 2, 4}) {
    SetHostThreads(threads);
    Counter op(257);
    std::vector<std::atomic<int>> reported(258);
    op.ChunkProgress = [&](int32_t done, int32_t count) {
      EXPECT_EQ(count, 257);
      reported[size_t(done)].fetch_add(1);
    };
    Request req(&op, 0);
    op.DoMultiProcess(&req, 257);
    for (auto& h : op.hits) EXPECT_EQ(h.load(), 1);
    for (size_t d = 1; d <= 257; ++d) EXPECT_EQ(reported[d].load(), 1) << d;
  }
  SetHostThreads(0);
}

TEST(DoMultiProcess, PassesOnAChunksExceptionAndRunsNothingForZeroChunks) {
  Counter op(50);
  op.throw_at = 17;
  Request req(&op, 0);
  EXPECT_THROW(op.DoMultiProcess(&req, 50), std::runtime_error);
  Counter none(1);
  Request empty(&none, 0);
  none.DoMultiProcess(&empty, 0);
  EXPECT_EQ(none.hits[0].load(), 0);
}
