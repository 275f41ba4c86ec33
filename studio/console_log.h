#pragma once
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// The tool's console as the page shows it: the last lines, each numbered so
// that the page asks only for the ones it has not seen.
class ConsoleLog {
 public:
  struct Line {
    long long seq;
    int kind;  // CON_Info or CON_Error
    std::string text;
  };

  void Add(int kind, const std::string& text);
  std::vector<Line> After(long long seq) const;

 private:
  static constexpr size_t kKeep = 500;
  mutable std::mutex mutex_;
  std::deque<Line> lines_;
  long long next_ = 1;
};
