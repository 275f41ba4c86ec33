#pragma once
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "studio/tool_session.h"

// Renders the panel's latest state on a thread of its own: a proxy first
// (when the frame is large enough to want one), then the full frame. A
// change cancels the render in flight (ToolSession raises the abort flag)
// and this starts over with the new state.
class LiveRender {
 public:
  explicit LiveRender(ToolSession& session);
  ~LiveRender();
  LiveRender(const LiveRender&) = delete;
  LiveRender& operator=(const LiveRender&) = delete;

  // The panel changed: render its new state.
  void Kick();
  // Wakes every waiting request and ends the render thread's loop.
  void Stop();
  // The latest picture when it is newer than (generation, stage), waiting up
  // to `timeout` for one; null when none came.
  std::shared_ptr<const Picture> WaitNewer(uint64_t generation, int stage, std::chrono::milliseconds timeout);

 private:
  void Loop();
  void Publish(std::shared_ptr<const Picture> p);

  ToolSession& session_;
  std::mutex mutex_;
  std::condition_variable wake_, published_;
  bool stop_ = false;
  std::shared_ptr<const Picture> latest_;
  std::thread thread_;
};
