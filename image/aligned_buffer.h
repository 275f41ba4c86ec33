#pragma once
#include <cstddef>

namespace tessaly_image {

// A 16-byte-aligned buffer of `bytes` (rounded up to a multiple of 16),
// released with std::free. Large buffers are placed on 2 MiB boundaries and
// offered huge pages: the splat walks streaks down many rows at once, and
// with 4 KiB pages every row it touches costs a TLB entry.
void* AllocateAligned(size_t bytes);

}  // namespace tessaly_image
