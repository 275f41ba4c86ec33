#pragma once
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

// Frames done, rate and time left: a bar redrawn in place on a terminal,
// plain lines otherwise.
class Progress {
 public:
  Progress(int total, bool terminal, bool quiet);
  void FrameDone(int frame, const std::string& output);
  // Prints a line of the tool's console without tearing the bar.
  void Line(const std::string& text);
  void Finish();
  // The blur pass's chunks done within a frame: shown on a terminal once the
  // frame has taken about a second (any thread may call it).
  void FrameStarted();
  void WithinFrame(int frame, int done, int count);

 private:
  void Draw();
  int total_, done_ = 0;
  bool terminal_, quiet_, drawn_ = false, frame_drawn_ = false;
  std::chrono::steady_clock::time_point start_, frame_start_, last_draw_;
  std::mutex mutex_;
};
