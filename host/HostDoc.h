#pragma once
#include <functional>
#include <mutex>
#include <string>

// Console line kinds.
constexpr int CON_Info = 40;
constexpr int CON_Error = 60;

// The composition a tool lives in, as far as the tool sees it: its console.
class HostDoc {
 public:
  using Sink = std::function<void(int kind, const std::string& text)>;

  HostDoc();
  explicit HostDoc(Sink sink) : sink_(std::move(sink)) {}

  // Formats like printf and hands (kind, text) to the console sink.
  void PrintF(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void SetSink(Sink sink);

  static HostDoc& Default();

 private:
  std::mutex mutex_;
  Sink sink_;
};
