#pragma once
#include <string>
#include <vector>

// Cutting a frame list into the chunks that farm tasks render.

// Number of chunks of `chunk` frames that `frames` frames make.
int ChunkCount(size_t frames, int chunk);

// The frames of chunk `index` (1 = the first) of `frames` cut into chunks of
// `chunk` frames, in order. Throws UsageError when the index lies outside.
std::vector<int> ChunkFrames(const std::vector<int>& frames, int chunk, int index);

// A --frames text for a run of frames of one step: "7", "7-9" or "7-11x2".
std::string FrameRangeText(const std::vector<int>& frames);

// The --frames text of the farm task whose chunk number (1 = the first) the
// environment variable `variable` holds, e.g. SLURM_ARRAY_TASK_ID. Throws
// UsageError, naming the variable, when it is unset, not a number or beyond
// the last chunk.
std::string TaskFrames(const std::string& frames, int chunk, const std::string& variable, int* index = nullptr,
                       int* count = nullptr);
