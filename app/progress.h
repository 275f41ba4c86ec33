#pragma once
#include <chrono>
#include <cstdio>
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

 private:
  void Draw();
  int total_, done_ = 0;
  bool terminal_, quiet_, drawn_ = false;
  std::chrono::steady_clock::time_point start_;
};
