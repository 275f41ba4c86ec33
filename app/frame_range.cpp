#include "app/frame_range.h"

#include <regex>

#include "app/usage_error.h"

namespace {
const std::regex kRange(R"(^\s*(-?\d+)(?:\s*-\s*(-?\d+)(?:\s*x\s*(\d+))?)?\s*$)");
// At most two digits of width: a wider field is not a frame pattern.
const std::regex kPrintf(R"(%0?(\d{0,2})d)");
const std::regex kHashes(R"(#+)");

int ToInt(const std::string& s, const std::string& text) {
  try {
    size_t used = 0;
    long v = std::stol(s, &used);
    if (used != s.size() || v < -100000000 || v > 100000000) throw std::out_of_range("frame");
    return int(v);
  } catch (const std::exception&) {
    throw UsageError("--frames " + text + ": frame numbers must lie within +-100000000");
  }
}
}  // namespace

std::vector<int> ParseFrameRange(const std::string& text) {
  std::smatch m;
  if (!std::regex_match(text, m, kRange))
    throw UsageError("--frames \"" + text + "\": expected A, A-B or A-BxSTEP (e.g. 1-100 or 1-100x2)");
  const int a = ToInt(m[1], text);
  const int b = m[2].matched ? ToInt(m[2], text) : a;
  const int step = m[3].matched ? ToInt(m[3], text) : 1;
  if (step <= 0) throw UsageError("--frames " + text + ": the step must be at least 1");
  if (b < a) throw UsageError("--frames " + text + ": the last frame comes before the first");
  if ((int64_t(b) - a) / step >= 1000000)
    throw UsageError("--frames " + text + ": more than a million frames in one command; split the range");
  std::vector<int> frames;
  for (long f = a; f <= b; f += step) frames.push_back(int(f));
  return frames;
}

bool HasFramePattern(const std::string& path) {
  return std::regex_search(path, kHashes) || std::regex_search(path, kPrintf);
}

std::string PathForFrame(const std::string& path, int frame) {
  std::smatch m;
  auto pad = [frame](size_t width) {
    std::string digits = std::to_string(frame < 0 ? -frame : frame);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return (frame < 0 ? "-" : "") + digits;
  };
  if (std::regex_search(path, m, kPrintf)) {
    size_t width = m[1].length() ? std::stoul(m[1]) : 1;
    return m.prefix().str() + pad(width) + m.suffix().str();
  }
  if (std::regex_search(path, m, kHashes)) return m.prefix().str() + pad(size_t(m.length())) + m.suffix().str();
  return path;
}
