#include "app/frame_range.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <set>

#include "app/usage_error.h"

// Hand-written scanners rather than regular expressions: the standard
// library's matcher recurses once per character and overflows the stack on
// arguments tens of thousands of characters long.
namespace {

constexpr long kFrameLimit = 100000000;
constexpr size_t kMaxFrames = 1000000;

class Scanner {
 public:
  Scanner(const std::string& s, const std::string& whole) : s_(s), whole_(whole) {}
  void Spaces() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Eat(char c) {
    Spaces();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool AtEnd() {
    Spaces();
    return i_ == s_.size();
  }
  // A frame number with an optional sign; false when none is here.
  bool Number(long& out, bool sign) {
    Spaces();
    size_t j = i_;
    bool negative = false;
    if (sign && j < s_.size() && s_[j] == '-') negative = true, ++j;
    const size_t digits = j;
    long v = 0;
    while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j]))) {
      v = v * 10 + (s_[j++] - '0');
      if (v > kFrameLimit) throw UsageError("--frames " + whole_ + ": frame numbers must lie within +-100000000");
    }
    if (j == digits) return false;
    i_ = j;
    out = negative ? -v : v;
    return true;
  }

 private:
  const std::string& s_;
  const std::string& whole_;
  size_t i_ = 0;
};

// The first frame pattern of a file name: [begin, end) and its width; false when none.
bool FindPattern(const std::string& name, size_t& begin, size_t& end, size_t& width) {
  for (size_t i = 0; i < name.size(); ++i) {  // printf-style first, as the field is explicit
    if (name[i] != '%') continue;
    size_t j = i + 1;
    if (j < name.size() && name[j] == '0') ++j;
    const size_t digits = j;
    while (j < name.size() && j - digits < 3 && std::isdigit(static_cast<unsigned char>(name[j]))) ++j;
    // At most two digits of width: a wider field is not a frame pattern.
    if (j - digits <= 2 && j < name.size() && name[j] == 'd') {
      begin = i;
      end = j + 1;
      width = j > digits ? std::stoul(name.substr(digits, j - digits)) : 1;
      if (width == 0) width = 1;
      return true;
    }
  }
  const size_t hash = name.find('#');
  if (hash == std::string::npos) return false;
  begin = hash;
  end = name.find_first_not_of('#', hash);
  if (end == std::string::npos) end = name.size();
  width = end - begin;
  return true;
}

size_t FileNameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::vector<int> ParseFrameRange(const std::string& text) {
  const std::string usage =
      "--frames \"" + text.substr(0, 80) + "\": expected A, A-B or A-BxSTEP, or a list of them (e.g. 1-100, 1-100x2 or 1-3,7,10-20x2)";
  std::vector<int> frames;
  std::set<int> seen;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    Scanner s(item, text);
    long a = 0, b = 0, step = 1;
    if (!s.Number(a, true)) throw UsageError(usage);
    b = a;
    if (s.Eat('-')) {
      if (!s.Number(b, true)) throw UsageError(usage);
      if (s.Eat('x') && !s.Number(step, false)) throw UsageError(usage);
    }
    if (!s.AtEnd()) throw UsageError(usage);
    if (step <= 0) throw UsageError("--frames " + item + ": the step must be at least 1");
    if (b < a) throw UsageError("--frames " + item + ": the last frame comes before the first");
    if ((b - a) / step >= long(kMaxFrames) || frames.size() + size_t((b - a) / step) >= kMaxFrames)
      throw UsageError("--frames: more than a million frames in one command; split the range");
    for (long f = a; f <= b; f += step)
      if (seen.insert(int(f)).second) frames.push_back(int(f));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return frames;
}

bool HasFramePattern(const std::string& path) {
  size_t begin, end, width;
  return FindPattern(path.substr(FileNameStart(path)), begin, end, width);
}

std::string PathForFrame(const std::string& path, int frame) {
  const size_t name_at = FileNameStart(path);
  size_t begin, end, width;
  if (!FindPattern(path.substr(name_at), begin, end, width)) return path;
  std::string digits = std::to_string(frame < 0 ? -int64_t(frame) : int64_t(frame));
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return path.substr(0, name_at + begin) + (frame < 0 ? "-" : "") + digits + path.substr(name_at + end);
}

std::vector<int> FramesOnDisk(const std::string& path) {
  const size_t name_at = FileNameStart(path);
  const std::string name = path.substr(name_at);
  size_t begin, end, width;
  if (!FindPattern(name, begin, end, width)) return {};
  const std::string prefix = name.substr(0, begin), suffix = name.substr(end);
  const std::string folder = name_at ? path.substr(0, name_at) : "./";
  std::set<int> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), last; !ec && it != last; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() <= prefix.size() + suffix.size() || file.compare(0, prefix.size(), prefix) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::string number = file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    const bool negative = number[0] == '-';
    if (negative) number.erase(0, 1);
    if (number.empty() || number.size() < width || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (number.size() > width && number[0] == '0') continue;  // padded wider than the pattern: another pattern's
    const long v = std::stol(number);
    if (v <= kFrameLimit) found.insert(int(negative ? -v : v));
  }
  return std::vector<int>(found.begin(), found.end());
}

std::string DescribeFrames(const std::vector<int>& frames) {
  std::string s;
  for (size_t i = 0; i < frames.size();) {
    size_t j = i;
    while (j + 1 < frames.size() && int64_t(frames[j + 1]) == int64_t(frames[j]) + 1) ++j;
    s += (s.empty() ? "" : ", ") + std::to_string(frames[i]) + (j > i ? "-" + std::to_string(frames[j]) : "");
    i = j + 1;
  }
  return s;
}

std::vector<int> Gaps(const std::vector<int>& frames) {
  std::vector<int> gaps;
  for (size_t i = 1; i < frames.size() && gaps.size() < kMaxFrames; ++i)
    for (int64_t f = int64_t(frames[i - 1]) + 1; f < frames[i] && gaps.size() < kMaxFrames; ++f) gaps.push_back(int(f));
  return gaps;
}
