// The overlapped frame loop: order, overlap, the three-frame bound, and what
// a failure or a cancel does to the frames around it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>

#include "app/frame_pipeline.h"

namespace {

std::atomic<int> g_live{0}, g_most{0};

// A frame's worth of memory, counted while it lives.
struct Held {
  int frame = 0;
  Held() { Count(+1); }
  explicit Held(int f) : frame(f) { Count(+1); }
  Held(Held&& o) noexcept : frame(o.frame) { Count(+1); }
  Held& operator=(Held&&) = default;
  ~Held() { Count(-1); }
  static void Count(int d) {
    const int now = g_live.fetch_add(d) + d;
    for (int m = g_most.load(); now > m && !g_most.compare_exchange_weak(m, now);) {
    }
  }
};

// Lets a stage wait, for a bounded time, until another stage has started.
struct Events {
  std::mutex m;
  std::condition_variable cv;
  std::set<std::string> seen;
  void Mark(const std::string& e) {
    std::lock_guard<std::mutex> l(m);
    seen.insert(e);
    cv.notify_all();
  }
  bool WaitFor(const std::string& e) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::seconds(5), [&] { return seen.count(e) > 0; });
  }
};

using Stages = frame_pipeline::Stages<Held, Held>;

TEST(FramePipeline, ReadsAheadAndWritesBehindWhileAFrameRendersWithAtMostThreeFramesHeld) {
  g_live = g_most = 0;
  Events ev;
  std::vector<int> written;
  bool overlapped = true;
  Stages s;
  s.read = [&](int f) {
    ev.Mark("read " + std::to_string(f));
    return Held(f);
  };
  s.render = [&](Held&& in) {
    const int f = in.frame;
    // Frame f + 1 is read and frame f - 1 written while f renders.
    if (f < 6) overlapped = ev.WaitFor("read " + std::to_string(f + 1)) && overlapped;
    if (f > 1) overlapped = ev.WaitFor("writing " + std::to_string(f - 1)) && overlapped;
    return std::make_unique<Held>(f);
  };
  s.write = [&](const Held& out) {
    ev.Mark("writing " + std::to_string(out.frame));
    written.push_back(out.frame);
  };
  s.failed = [](int f, const std::string&) { ADD_FAILURE() << "frame " << f << " failed"; };
  EXPECT_EQ(frame_pipeline::Run({1, 2, 3, 4, 5, 6}, s), frame_pipeline::End::Done);
  EXPECT_TRUE(overlapped);
  EXPECT_EQ(written, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  // The frame read ahead, the rendering frame's input and result, the frame being written.
  EXPECT_LE(g_most.load(), 4);
  EXPECT_EQ(g_live.load(), 0);
}

struct FailureCase {
  const char* what;
  bool fail_fast;
  int cancel_after_render_of;  // 0: none
  std::vector<int> written, failed;
  frame_pipeline::End end;
};

TEST(FramePipeline, AFailedReadRenderOrWriteFailsOnlyItsFrameUnlessStopped) {
  // Frame 2's read throws, frame 3's render reports the tool's error, frame 4's write throws.
  const std::vector<FailureCase> cases{
      {"every frame tried", false, 0, {1, 5}, {2, 3, 4}, frame_pipeline::End::Done},
      {"--fail-fast", true, 0, {1}, {2}, frame_pipeline::End::Stopped},
      {"Ctrl-C while frame 3 renders: frame 1 kept", false, 3, {1}, {2}, frame_pipeline::End::Cancelled},
      {"Ctrl-C during frame 5", false, 5, {1}, {2, 3, 4}, frame_pipeline::End::Cancelled},
  };
  for (const FailureCase& c : cases) {
    std::vector<int> written, failed;
    std::atomic<int> rendered{0};
    Stages s;
    s.read = [](int f) {
      if (f == 2) throw std::runtime_error("cannot read frame 2");
      return Held(f);
    };
    s.render = [&](Held&& in) -> std::unique_ptr<Held> {
      rendered = in.frame;
      if (in.frame == 3) return nullptr;
      return std::make_unique<Held>(in.frame);
    };
    s.write = [&](const Held& out) {
      if (out.frame == 4) throw std::runtime_error("disk full");
      written.push_back(out.frame);
    };
    s.failed = [&](int f, const std::string& why) {
      failed.push_back(f);
      EXPECT_EQ(why, f == 2 ? "cannot read frame 2" : f == 4 ? "disk full" : "") << c.what;
    };
    s.fail_fast = c.fail_fast;
    s.cancelled = [&] { return c.cancel_after_render_of && rendered >= c.cancel_after_render_of; };
    EXPECT_EQ(frame_pipeline::Run({1, 2, 3, 4, 5}, s), c.end) << c.what;
    EXPECT_EQ(written, c.written) << c.what;
    EXPECT_EQ(failed, c.failed) << c.what;
  }
}

TEST(FramePipeline, ASingleFramesErrorReachesTheCallerWithItsType) {
  Stages s;
  s.read = [](int) -> Held { throw std::invalid_argument("unreadable"); };
  s.render = [](Held&&) { return std::make_unique<Held>(); };
  s.write = [](const Held&) {};
  s.failed = [](int, const std::string&) { ADD_FAILURE() << "reported instead of passed on"; };
  s.pass_on = true;
  EXPECT_THROW(frame_pipeline::Run({1}, s), std::invalid_argument);
  s.read = [](int f) { return Held(f); };
  s.write = [](const Held&) { throw std::out_of_range("write failed"); };
  EXPECT_THROW(frame_pipeline::Run({1}, s), std::out_of_range);
}

}  // namespace
