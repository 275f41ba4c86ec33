// Cutting a frame range into farm tasks, and the task's frames from the
// environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/farm_task.h"
#include "app/frame_range.h"
#include "app/usage_error.h"

namespace {

std::string Task(const std::string& frames, int chunk, const char* value) {
  setenv("QUORVEX_TEST_TASK", value, 1);
  return TaskFrames(frames, chunk, "QUORVEX_TEST_TASK");
}

TEST(FarmChunks, ATaskRendersItsChunkOfTheRange) {
  struct Case {
    const char* frames;
    int chunk;
    const char* task;
    const char* expected;
  } cases[] = {
      {"1-10", 3, "1", "1-3"},         {"1-10", 3, "3", "7-9"},     {"1-10", 3, "4", "10"},
      {"1-10x2", 2, "1", "1-3x2"},     {"1-10x2", 2, "3", "9"},     {"-5-4", 4, "2", "-1-2"},
      {"1001-1100", 10, "10", "1091-1100"}, {"7", 5, "1", "7"},   {"1-100", 100, "1", "1-100"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Task(c.frames, c.chunk, c.task), c.expected) << c.frames << " chunk " << c.chunk << " task " << c.task;
}

TEST(FarmChunks, TheChunksTogetherAreTheRangeOnceInOrder) {
  for (const char* range : {"1-10", "1001-1137", "1-99x3", "-20-20", "5"})
    for (int chunk : {1, 2, 3, 7, 50, 1000}) {
      const std::vector<int> all = ParseFrameRange(range);
      std::vector<int> joined;
      const int count = ChunkCount(all.size(), chunk);
      for (int t = 1; t <= count; ++t) {
        const std::vector<int> part = ChunkFrames(all, chunk, t);
        EXPECT_LE(part.size(), size_t(chunk));
        EXPECT_EQ(ParseFrameRange(FrameRangeText(part)), part) << "the --frames text of a chunk names its frames";
        joined.insert(joined.end(), part.begin(), part.end());
      }
      EXPECT_EQ(joined, all) << range << " in chunks of " << chunk;
    }
}

TEST(FarmChunks, ABadTaskNumberIsNamedWithItsVariable) {
  struct Case {
    const char* value;  // nullptr: unset
    const char* frames;
    const char* message;
  } cases[] = {
      {nullptr, "1-10", "--chunk-from QUORVEX_TEST_TASK: the variable is not set"},
      {"", "1-10", "the variable is not set"},
      {"abc", "1-10", "\"abc\" is not a chunk number"},
      {"3x", "1-10", "\"3x\" is not a chunk number"},
      {"0", "1-10", "\"0\" is not a chunk number (1 = the first)"},
      {"5", "1-10", "chunk 5 does not exist: 10 frames in chunks of 3 make chunks 1 to 4"},
      {"1", "", "needs --frames"},
  };
  for (const Case& c : cases) {
    if (c.value)
      setenv("QUORVEX_TEST_TASK", c.value, 1);
    else
      unsetenv("QUORVEX_TEST_TASK");
    try {
      TaskFrames(c.frames, 3, "QUORVEX_TEST_TASK");
      ADD_FAILURE() << "accepted " << (c.value ? c.value : "(unset)");
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(ChunkCount(10, 0), UsageError);
}

}  // namespace
