#pragma once
#include <string>
#include <vector>

#include "farm/submission.h"

// One frame of a job as its output stands.
struct FrameState {
  int frame = 0;
  bool complete = false;
  std::string problem;  // why not: "not written" or what reading it back found
};

// Reads back every frame's output in full (as --skip-existing does).
std::vector<FrameState> CheckFrames(const Submission& s);

// Frames whose output file is in place. The writer renames only complete
// files into place, so this needs no reading; the report reads them back.
int FramesInPlace(const Submission& s);

// The lines of a task log that name `frame` ("frame 7: cannot read ...").
std::vector<std::string> LinesNamingFrame(const std::string& log_text, int frame);

// The report: frames done, frames failed with the task log that names each
// and its lines about it, and how to re-submit.
std::string ReportText(const Submission& s, const std::vector<FrameState>& frames);
