#pragma once
#include <functional>
#include <string>
#include <vector>

// True when `path` exists and reads back as a complete image (every part and
// every pixel). A truncated file or a writer's temporary is not complete;
// `why`, when given, says what is wrong.
bool OutputIsComplete(const std::string& path, std::string* why = nullptr);

// The frames whose output (path_of(frame)) is not complete yet; `kept` is
// called for every frame that is.
std::vector<int> FramesStillToRender(const std::vector<int>& frames, const std::function<std::string(int)>& path_of,
                                     const std::function<void(int, const std::string&)>& kept);
