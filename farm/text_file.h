#pragma once
#include <string>

// Writes a text file through quorvex-render's safe writer: a temporary name
// beside it, renamed into place when complete. `mode` sets its permissions.
void WriteTextFile(const std::string& path, const std::string& text, unsigned mode = 0644);
