#include "host/HostDoc.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

HostDoc::HostDoc() : sink_([](int, const std::string& text) { std::fputs(text.c_str(), stderr); }) {}

void HostDoc::PrintF(int kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buf(size_t(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    text.assign(buf.data(), size_t(n));
  }
  va_end(args);
  std::lock_guard<std::mutex> lock(mutex_);
  if (sink_) sink_(kind, text);
}

void HostDoc::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
}

HostDoc& HostDoc::Default() {
  static HostDoc doc;
  return doc;
}
