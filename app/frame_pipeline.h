#pragma once
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Frames through read, render and write, overlapped: while frame N renders
// (on the calling thread), frame N + 1 is read and frame N - 1 written, each
// on a thread of its own. At most one frame is read ahead and one written
// behind, so three frames at most are in memory. Frames are rendered and
// written in order; a failed read, render or write fails only its frame.
namespace frame_pipeline {

enum class End { Done, Stopped, Cancelled };

template <class Inputs, class Output>
struct Stages {
  std::function<Inputs(int frame)> read;
  // Null when the tool reported an error (the frame fails without a reason).
  std::function<std::unique_ptr<Output>(Inputs&&)> render;
  std::function<void(const Output&)> write;
  // A frame failed: why (empty when the tool said it), in frame order of
  // discovery. Not called when exceptions are passed on.
  std::function<void(int frame, const std::string& why)> failed;
  // Checked after each render: true stops (Ctrl-C) once the frame being
  // written is finished; the rendered frame is not written.
  std::function<bool()> cancelled;
  bool fail_fast = false;  // stop at the first failed frame
  bool pass_on = false;    // exceptions of a stage reach the caller (a single frame)
};

// Runs the frames; `last` is the frame the run ended at.
template <class Inputs, class Output>
End Run(const std::vector<int>& frames, const Stages<Inputs, Output>& s, int* last = nullptr) {
  if (frames.empty()) return End::Done;
  auto read_async = [&](int f) { return std::async(std::launch::async, [&s, f] { return s.read(f); }); };
  std::future<Inputs> reading = read_async(frames[0]);
  std::unique_ptr<Output> being_written;
  std::future<void> writing;
  int writing_frame = 0;
  // Waits for the frame being written; false when its write failed.
  auto finish_write = [&]() {
    if (!writing.valid()) return true;
    bool ok = true;
    try {
      writing.get();
    } catch (const std::exception& e) {
      being_written.reset();
      if (s.pass_on) throw;
      s.failed(writing_frame, e.what());
      ok = false;
    }
    being_written.reset();
    return ok;
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    const int f = frames[i];
    if (last) *last = f;
    std::unique_ptr<Output> rendered;
    std::string why;
    bool threw = false;
    std::optional<Inputs> inputs;
    try {
      inputs.emplace(reading.get());
    } catch (const std::exception& e) {
      if (s.pass_on) throw;
      why = e.what();
      threw = true;
    }
    if (i + 1 < frames.size()) reading = read_async(frames[i + 1]);
    if (inputs) {
      try {
        rendered = s.render(std::move(*inputs));
      } catch (const std::exception& e) {
        if (s.pass_on) throw;
        why = e.what();
        threw = true;
      }
      inputs.reset();
    }
    const bool before_ok = finish_write();
    if (s.cancelled && s.cancelled()) return End::Cancelled;
    if (!before_ok && s.fail_fast) return End::Stopped;
    if (!rendered) {
      s.failed(f, threw ? why : std::string());
      if (s.fail_fast) return End::Stopped;
      continue;
    }
    being_written = std::move(rendered);
    writing_frame = f;
    Output* out = being_written.get();
    writing = std::async(std::launch::async, [&s, out] { s.write(*out); });
  }
  const bool ok = finish_write();
  if (s.cancelled && s.cancelled()) return End::Cancelled;
  return !ok && s.fail_fast ? End::Stopped : End::Done;
}

}  // namespace frame_pipeline
