#pragma once
#include <vector>

// Zip and zips parts compressed with libdeflate. OpenEXR 3.1 deflates its
// chunks through zlib, which is most of the time of a float write; libdeflate
// makes the same zlib streams about twice as fast. The writer hands OpenEXR
// those parts uncompressed, then this turns the file's one-line chunks into
// zip chunks, keeping every header byte but the compression (and the chunk
// count of a multi-part file).
namespace exr_deflate {

// What a part becomes: kAsWritten, or zips / zip at a deflate level.
struct PartCompression {
  static constexpr int kAsWritten = -1, kZips = 2, kZip = 3;  // OpenEXR's numbers
  int compression = kAsWritten;
  int level = 4;
};

// `bytes`: a scanline file in which every part that `parts` names zip or
// zips was written uncompressed; one entry per part.
void CompressParts(std::vector<char>& bytes, const std::vector<PartCompression>& parts);

}  // namespace exr_deflate
