// Pictures written by our own writers over the codec libraries and then damaged in a known
// place, for tests of what a failed read says.
#pragma once

#include <string>

namespace scopa::test {

// A 96 x 64 picture of noise written through the filter `id` ("PNG", "JPG", "TIF", ...); the
// noise keeps the compressed data long, so it can be cut in its middle.
std::string EncodedNoise(const char* id);

// A PNG cut half-way through its first IDAT chunk's data.
std::string PngCutInIdat();
// A JPEG cut half-way through the entropy-coded data of its scan.
std::string JpegCutInEntropyData();
// A TIFF whose first strip offset points 1000 bytes past the end of the file.
std::string TiffWithStripBeyondTheEnd();

}  // namespace scopa::test
