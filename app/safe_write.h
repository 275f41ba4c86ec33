#pragma once
#include <functional>
#include <string>

// Temporary name beside `path` with the same extension (so that writers that
// pick a format by extension still do).
std::string TemporaryPathFor(const std::string& path);

// Runs write(tmp) and renames tmp to path when it returns; on any failure the
// temporary file is removed and `path` is left as it was.
void WriteFileSafely(const std::string& path, const std::function<void(const std::string& tmp)>& write);

// True when both paths name the same existing file (or the same path).
bool SameFile(const std::string& a, const std::string& b);
