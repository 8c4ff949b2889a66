// Pictures written by an independent tool (ImageMagick's convert), for reader tests. Tests
// that need it skip when it is not installed.
#pragma once

#include <string>

namespace scopa::test {

// True when a real ImageMagick convert is installed.
bool HaveImageMagick();

// Runs `convert ARGUMENTS` (arguments already quoted as needed); true on exit status 0.
bool MagickConvert(const std::string& arguments);

// Runs `identify -format FORMAT FILE` and returns its output ("" on failure).
std::string MagickIdentify(const std::string& format, const std::string& file);

}  // namespace scopa::test
