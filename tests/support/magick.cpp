#include "support/magick.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace scopa::test {
namespace {

// The Debian package's own binaries, so a stand-in earlier on the search path is not used.
constexpr const char* kConvert = "/usr/bin/convert-im6.q16";
constexpr const char* kIdentify = "/usr/bin/identify-im6.q16";

}  // namespace

bool HaveImageMagick() {
    std::error_code error;
    return std::filesystem::exists(kConvert, error) && std::filesystem::exists(kIdentify, error);
}

bool MagickConvert(const std::string& arguments) {
    std::string command = std::string(kConvert) + " " + arguments + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

std::string MagickIdentify(const std::string& format, const std::string& file) {
    std::string command =
        std::string(kIdentify) + " -format '" + format + "' '" + file + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string output;
    std::array<char, 256> buffer;
    size_t count;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), count);
    }
    return pclose(pipe) == 0 ? output : "";
}

}  // namespace scopa::test
