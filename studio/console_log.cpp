#include "studio/console_log.h"

void ConsoleLog::Add(int kind, const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back({next_++, kind, t});
  if (lines_.size() > kKeep) lines_.pop_front();
}

std::vector<ConsoleLog::Line> ConsoleLog::After(long long seq) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Line> out;
  for (const Line& l : lines_)
    if (l.seq > seq) out.push_back(l);
  return out;
}
