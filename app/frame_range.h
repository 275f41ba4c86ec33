#pragma once
#include <string>
#include <vector>

// "--frames": a list of items A, A-B or A-BxSTEP separated by commas
// ("1-3,7,10-20x2"; negative frames allowed: "-5--1"), in the order given,
// each frame once. Throws UsageError.
std::vector<int> ParseFrameRange(const std::string& text);

// True when a path's file name holds a frame pattern: "####" (one # per
// digit) or a printf-style "%04d". Folders never hold one: a '#' or '%' in a
// folder's name is just a character.
bool HasFramePattern(const std::string& path);
// The path for one frame, the file name's pattern replaced by the
// zero-padded number.
std::string PathForFrame(const std::string& path, int frame);

// The frames of a pattern path that exist on disk, in order: the file names
// in its folder that hold the name's text around the pattern and a frame
// number of at least the pattern's width ("shot.####.exr" finds
// shot.0007.exr and shot.12345.exr, not shot.7.exr).
std::vector<int> FramesOnDisk(const std::string& path);
// "1-3, 7, 10-12": sorted frames as ranges.
std::string DescribeFrames(const std::vector<int>& frames);
// The frames between the first and the last that are not in `frames` (sorted).
std::vector<int> Gaps(const std::vector<int>& frames);
