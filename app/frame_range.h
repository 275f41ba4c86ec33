#pragma once
#include <string>
#include <vector>

// "--frames A", "A-B" or "A-BxS" (negative frames allowed: "-5--1").
std::vector<int> ParseFrameRange(const std::string& text);

// True when a path holds a frame pattern: "####" (one # per digit) or a
// printf-style "%04d".
bool HasFramePattern(const std::string& path);
// The path for one frame, the pattern replaced by the zero-padded number.
std::string PathForFrame(const std::string& path, int frame);
