#include "studio/live_render.h"

LiveRender::LiveRender(ToolSession& session) : session_(session) {
  thread_ = std::thread([this] { Loop(); });
}

LiveRender::~LiveRender() {
  Stop();
  thread_.join();
}

void LiveRender::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  published_.notify_all();
}

void LiveRender::Kick() {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_.notify_all();
}

void LiveRender::Publish(std::shared_ptr<const Picture> p) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = std::move(p);
  }
  published_.notify_all();
}

std::shared_ptr<const Picture> LiveRender::WaitNewer(uint64_t generation, int stage,
                                                     std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto newer = [&] {
    return stop_ || (latest_ && (latest_->generation > generation ||
                                 (latest_->generation == generation && latest_->stage > stage)));
  };
  if (!published_.wait_for(lock, timeout, newer) || stop_) return nullptr;
  return latest_;
}

void LiveRender::Loop() {
  uint64_t done = 0;  // the last state rendered at full size
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || session_.Generation() != done; });
      if (stop_) return;
    }
    const uint64_t generation = session_.Generation();
    if (session_.WantsProxy()) {
      if (auto proxy = session_.Render(generation, kProxyStage))
        Publish(std::move(proxy));
      else
        continue;  // a newer state came in
    }
    auto full = session_.Render(generation, kFullStage);
    if (!full) continue;
    Publish(std::move(full));
    done = generation;
  }
}
