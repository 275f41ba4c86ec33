#pragma once
// The studio page's files (HTML, CSS, JavaScript), compiled into the program.
#include <cstddef>
#include <vector>

struct PageFile {
  const char* path;  // "/index.html"
  const unsigned char* data;
  size_t size;
};

const std::vector<PageFile>& PageFiles();
