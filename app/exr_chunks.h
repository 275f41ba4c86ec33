#pragma once
#include <cstdint>
#include <string>

// An OpenEXR file's headers and offset tables read on their own, before any
// decoder allocates the image its header describes: a file whose offset
// tables or chunks lie beyond its end (cut short by a full disk or a broken
// copy) is told apart from a whole one at the cost of reading the tables.
namespace exr_chunks {

// True when the file starts with the OpenEXR magic number.
bool IsExr(const std::string& path);

// Empty when every part's offset table and every chunk it points to lie
// inside the file's `file_size` bytes; else what is wrong ("the file ends at
// byte 10240 but its offset table points to data up to byte 86016").
std::string Problem(const std::string& path, uint64_t file_size);

}  // namespace exr_chunks
