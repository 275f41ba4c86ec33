#include "app/progress.h"

Progress::Progress(int total, bool terminal, bool quiet)
    : total_(total), terminal_(terminal), quiet_(quiet), start_(std::chrono::steady_clock::now()) {}

void Progress::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_ || frame_drawn_) std::fputs("\r\033[K", stderr);
  frame_drawn_ = false;
  std::fputs(text.c_str(), stderr);
  if (!text.empty() && text.back() != '\n') std::fputc('\n', stderr);
  if (drawn_) Draw();
}

void Progress::FrameDone(int frame, const std::string& output) {
  std::lock_guard<std::mutex> lock(mutex_);  // frames are written on a thread of their own
  ++done_;
  if (terminal_ && total_ > 1) {
    Draw();
  } else if (!quiet_ && total_ > 1) {
    std::fprintf(stderr, "frame %d done (%d/%d): %s\n", frame, done_, total_, output.c_str());
  }
}

void Progress::Draw() {
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = secs > 0 ? done_ / secs : 0.0;
  const int left = rate > 0 ? int((total_ - done_) / rate + 0.5) : 0;
  const int width = 30, fill = total_ ? done_ * width / total_ : width;
  std::string bar(size_t(fill), '#');
  bar.resize(width, ' ');
  std::fprintf(stderr, "\r\033[K[%s] %d/%d frames  %.2f fps  %d:%02d left", bar.c_str(), done_, total_, rate,
               left / 60, left % 60);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_ || frame_drawn_) std::fputc('\n', stderr);
  drawn_ = frame_drawn_ = false;
}

void Progress::FrameStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_start_ = std::chrono::steady_clock::now();
}

void Progress::WithinFrame(int frame, int done, int count) {
  if (!terminal_ || quiet_ || count <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (now - frame_start_ < std::chrono::seconds(1) || now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  std::fprintf(stderr, "\r\033[Kframe %d: blur pass %d%%", frame, int(100.0 * done / count));
  std::fflush(stderr);
  frame_drawn_ = true;
}
