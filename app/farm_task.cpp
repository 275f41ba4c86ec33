#include "app/farm_task.h"

#include <algorithm>
#include <cstdlib>

#include "app/frame_range.h"
#include "app/usage_error.h"

int ChunkCount(size_t frames, int chunk) {
  if (chunk < 1) throw UsageError("--chunk " + std::to_string(chunk) + ": a chunk holds at least one frame");
  return int((frames + size_t(chunk) - 1) / size_t(chunk));
}

std::vector<int> ChunkFrames(const std::vector<int>& frames, int chunk, int index) {
  const int count = ChunkCount(frames.size(), chunk);
  if (index < 1 || index > count)
    throw UsageError("chunk " + std::to_string(index) + " does not exist: " + std::to_string(frames.size()) +
                     " frames in chunks of " + std::to_string(chunk) + " make chunks 1 to " + std::to_string(count));
  const size_t first = size_t(index - 1) * size_t(chunk);
  const size_t last = std::min(frames.size(), first + size_t(chunk));
  return {frames.begin() + long(first), frames.begin() + long(last)};
}

std::string FrameRangeText(const std::vector<int>& frames) {
  if (frames.empty()) return "";
  std::string text = std::to_string(frames.front());
  if (frames.size() == 1) return text;
  text += "-" + std::to_string(frames.back());
  const int step = frames[1] - frames[0];
  return step == 1 ? text : text + "x" + std::to_string(step);
}

std::string TaskFrames(const std::string& frames, int chunk, const std::string& variable, int* index, int* count) {
  if (frames.empty()) throw UsageError("--chunk-from " + variable + " needs --frames, the whole range of the job");
  const char* value = std::getenv(variable.c_str());
  if (!value || !*value)
    throw UsageError("--chunk-from " + variable + ": the variable is not set (this runs as a farm task)");
  char* end = nullptr;
  const long n = std::strtol(value, &end, 10);
  if (*end || n < 1 || n > 100000000)
    throw UsageError("--chunk-from " + variable + ": \"" + value + "\" is not a chunk number (1 = the first)");
  const std::vector<int> all = ParseFrameRange(frames);
  if (index) *index = int(n);
  if (count) *count = ChunkCount(all.size(), chunk);
  return FrameRangeText(ChunkFrames(all, chunk, int(n)));
}
