#pragma once
#include <cstdint>
#include <string>

// A PNG file's chunk list walked on its own before the decoder runs: the
// decoder allocates each chunk's claimed length before reading it, so a
// chunk that claims more than the file holds (a cut file, or a few hostile
// bytes claiming gigabytes) is refused here.
namespace png_chunks {

// Empty when every chunk up to IEND lies inside the file's `file_size`
// bytes; else what is wrong.
std::string Problem(const std::string& path, uint64_t file_size);

}  // namespace png_chunks
