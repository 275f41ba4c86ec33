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
