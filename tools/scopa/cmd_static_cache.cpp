// scopa static-cache: makes a compressed read-only preview cache of every picture under a
// folder and registers it, printing the progress texts as they come.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cache/background_caching.h"
#include "command.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "static-cache";

std::string AbsolutePath(const std::string& argument) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(argument, error);
    return error ? argument : absolute.lexically_normal().string();
}

int RunStaticCache(const Arguments& arguments) {
    if (arguments.positional.size() != 2) {
        return Fail(kCommandName, "expects CACHE_PATH and ROOT (see --help)", kExitUsage);
    }
    // The registration must name the files from anywhere: relative paths are made absolute.
    std::string cache_path = AbsolutePath(arguments.positional[0]);
    std::string root = AbsolutePath(arguments.positional[1]);
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) {
        return Fail(kCommandName, root + " is not a folder");
    }
    bool created = CreateStaticCache(cache_path, root, [](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    });
    if (!created) return Fail(kCommandName, "cannot create the data file " + cache_path + ".pvd");
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "static-cache CACHE_PATH ROOT",
    "Make and register a read-only cache of every picture under ROOT",
    "Every picture file under ROOT (judged by content; linked folders are not followed) is\n"
    "made into a thumbnail and stored compressed in CACHE_PATH.pvd with its index\n"
    "CACHE_PATH.pvi. The cache is registered under HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\\n"
    "PreviewCaches, replacing a registration of the same index file, so later runs find the\n"
    "thumbnails without making them. An existing cache of that name is replaced: the new\n"
    "one holds only what this run made. The progress texts are printed as they come (lines\n"
    "end in CR LF). Exit status 0 unless the data file cannot be created.",
    {},
    RunStaticCache,
});

}  // namespace
}  // namespace scopa::tool
